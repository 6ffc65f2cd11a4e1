#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "media/MediaList.h"

// Named nodes of one list.
struct MediaListTest : public testing::Test {
    ListNode_S stHead;
    ListNode_S astNode[4];

    void SetUp() override
    {
        ASSERT_EQ(0, init_list_head(&stHead));
        for (u32 i = 0; i < 4; i++)
            snprintf(astNode[i].azName, sizeof(astNode[i].azName), "n%u", i);
    }
    void TearDown() override { EXPECT_EQ(0, deinit_list_head(&stHead)); }

    // The names from the first node on, following pstNext; every pstPrev
    // must point back.
    std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        for (ListNode_S *p = stHead.pstNext; p != &stHead; p = p->pstNext) {
            EXPECT_EQ(p, p->pstNext->pstPrev) << p->azName;
            names.push_back(p->azName);
        }
        return names;
    }
};

// A node added at the front goes before those added at the tail; inserted
// ones go right after or right before the node given; deleting links the
// neighbours past it, and a node not in the list is refused.
TEST_F(MediaListTest, FrontTailAndInsertKeepBothLinks) {
    ASSERT_EQ(0, add_list_tail_node(&stHead, &astNode[1]));
    ASSERT_EQ(0, add_list_node(&stHead, &astNode[0]));
    EXPECT_EQ((std::vector<std::string>{"n0", "n1"}), Names());
    ASSERT_EQ(0, insert_list_node(&stHead, &astNode[0], &astNode[2], true));
    EXPECT_EQ((std::vector<std::string>{"n0", "n2", "n1"}), Names());
    ASSERT_EQ(0, insert_list_node(&stHead, &astNode[0], &astNode[3], false));
    EXPECT_EQ((std::vector<std::string>{"n3", "n0", "n2", "n1"}), Names());
    ASSERT_EQ(0, del_list_node(&stHead, &astNode[2]));
    EXPECT_EQ((std::vector<std::string>{"n3", "n0", "n1"}), Names());
    EXPECT_EQ(-1, del_list_node(&stHead, &astNode[2]));
    EXPECT_EQ(-1, add_list_node(&stHead, nullptr));
    EXPECT_EQ(-1, insert_list_node(&stHead, nullptr, &astNode[2], true));
    EXPECT_EQ((std::vector<std::string>{"n3", "n0", "n1"}), Names());
}

// The print walks from the head round to it, naming each node's
// neighbours.
TEST_F(MediaListTest, PrintNamesEachNodesNeighbours) {
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, printf_list_node(&stHead));
    ASSERT_EQ(0, add_list_tail_node(&stHead, &astNode[0]));
    ASSERT_EQ(0, add_list_tail_node(&stHead, &astNode[1]));
    ASSERT_EQ(0, printf_list_node(&stHead));
    EXPECT_EQ(-1, printf_list_node(nullptr));
    EXPECT_EQ("[head: n: head, p: head]-> To head\n"
              "[head: n: n0, p: n1]-> [n0: n: n1, p: head]-> [n1: n: head, p: n0]-> To head\n"
              "list node is null\n",
              testing::internal::GetCapturedStdout());
}
