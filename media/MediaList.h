// A small circular doubly linked list with a named head whose mutex guards
// the links. A node is embedded in the record it links (container_of
// style); a head with no nodes points to itself both ways.
#ifndef MEDIA_MEDIALIST_H
#define MEDIA_MEDIALIST_H

#include <pthread.h>

#include "core/Types.h"

struct ListNode_S {
    char azName[64];             // "head" for a list head
    pthread_mutex_t mutex;       // of a head: guards every link of its list
    ListNode_S *pstNext;
    ListNode_S *pstPrev;
};

// -1 (printing "list node is null") for a null node, else 0.
s32 check_list_node(const ListNode_S *pstNode);
s32 init_list_head(ListNode_S *pstHead);
s32 deinit_list_head(ListNode_S *pstHead);
// Link pstNode last, under the head's mutex.
s32 add_list_tail_node(ListNode_S *pstHead, ListNode_S *pstNode);
// Link pstNode first, under the head's mutex.
s32 add_list_node(ListNode_S *pstHead, ListNode_S *pstNode);
// Link pstNode after pstAt (bAfter) or before it. Takes no lock: the
// caller holds the head's mutex or owns the list alone.
s32 insert_list_node(ListNode_S *pstHead, ListNode_S *pstAt, ListNode_S *pstNode, bool bAfter);
// Unlink pstNode, under the head's mutex; -1 when it is not in the list.
s32 del_list_node(ListNode_S *pstHead, ListNode_S *pstNode);
// Prints the head and each node with the names of its neighbours, then
// "To head", under the head's mutex.
s32 printf_list_node(ListNode_S *pstHead);

#endif
