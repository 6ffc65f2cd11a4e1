// Memory running out, for the RTSP tests. The program's allocation
// operators are replaced (every form, so that a sanitizer sees one
// allocator): while armed, the allocations that throw, made on any thread
// but the one that armed, fail with std::bad_alloc once a number of them
// has passed. The nothrow forms and malloc go on working.
#ifndef TESTS_RTSPLIB_RTSPTESTALLOC_H
#define TESTS_RTSPLIB_RTSPTESTALLOC_H

#include "core/Types.h"

// Lets u32Pass more throwing allocations of other threads pass, then
// fails each one until TestAlloc_Pass.
void TestAlloc_FailOthers(u32 u32Pass);
void TestAlloc_Pass(void);
// Allocations failed since the last TestAlloc_FailOthers.
u32 TestAlloc_Failed(void);

#endif
