#include "media/MediaList.h"

#include <cstdio>

// The head's mutex for the length of a scope.
struct ListLock_S {
    pthread_mutex_t *pMutex;
    explicit ListLock_S(ListNode_S *pstHead) : pMutex(&pstHead->mutex) { pthread_mutex_lock(pMutex); }
    ~ListLock_S() { pthread_mutex_unlock(pMutex); }
};

s32 check_list_node(const ListNode_S *pstNode)
{
    if (pstNode == nullptr) {
        printf("list node is null\n");
        return -1;
    }
    return 0;
}

s32 init_list_head(ListNode_S *pstHead)
{
    if (check_list_node(pstHead) != 0)
        return -1;
    snprintf(pstHead->azName, sizeof(pstHead->azName), "head");
    pstHead->pstNext = pstHead->pstPrev = pstHead;
    return pthread_mutex_init(&pstHead->mutex, nullptr) == 0 ? 0 : -1;
}

s32 deinit_list_head(ListNode_S *pstHead)
{
    if (check_list_node(pstHead) != 0)
        return -1;
    return pthread_mutex_destroy(&pstHead->mutex) == 0 ? 0 : -1;
}

// pstNode between two neighbours.
static void list_link(ListNode_S *pstPrev, ListNode_S *pstNode, ListNode_S *pstNext)
{
    pstNode->pstNext = pstNext;
    pstNode->pstPrev = pstPrev;
    pstPrev->pstNext = pstNode;
    pstNext->pstPrev = pstNode;
}

s32 add_list_tail_node(ListNode_S *pstHead, ListNode_S *pstNode)
{
    if (check_list_node(pstHead) != 0 || check_list_node(pstNode) != 0)
        return -1;
    ListLock_S lock(pstHead);
    list_link(pstHead->pstPrev, pstNode, pstHead);
    return 0;
}

s32 add_list_node(ListNode_S *pstHead, ListNode_S *pstNode)
{
    if (check_list_node(pstHead) != 0 || check_list_node(pstNode) != 0)
        return -1;
    ListLock_S lock(pstHead);
    list_link(pstHead, pstNode, pstHead->pstNext);
    return 0;
}

s32 insert_list_node(ListNode_S *pstHead, ListNode_S *pstAt, ListNode_S *pstNode, bool bAfter)
{
    if (check_list_node(pstHead) != 0 || check_list_node(pstAt) != 0 || check_list_node(pstNode) != 0)
        return -1;
    if (bAfter)
        list_link(pstAt, pstNode, pstAt->pstNext);
    else
        list_link(pstAt->pstPrev, pstNode, pstAt);
    return 0;
}

s32 printf_list_node(ListNode_S *pstHead)
{
    if (check_list_node(pstHead) != 0)
        return -1;
    ListLock_S lock(pstHead);
    const ListNode_S *pstCur = pstHead;
    do {
        printf("[%s: n: %s, p: %s]-> ", pstCur->azName, pstCur->pstNext->azName, pstCur->pstPrev->azName);
        pstCur = pstCur->pstNext;
    } while (pstCur != pstHead);
    printf("To head\n");
    return 0;
}

s32 del_list_node(ListNode_S *pstHead, ListNode_S *pstNode)
{
    if (check_list_node(pstHead) != 0 || check_list_node(pstNode) != 0)
        return -1;
    ListLock_S lock(pstHead);
    ListNode_S *pstCur = pstHead->pstNext;
    while (pstCur != pstHead && pstCur != pstNode)
        pstCur = pstCur->pstNext;
    if (pstCur == pstHead)
        return -1;
    pstNode->pstPrev->pstNext = pstNode->pstNext;
    pstNode->pstNext->pstPrev = pstNode->pstPrev;
    pstNode->pstNext = pstNode->pstPrev = nullptr;
    return 0;
}
