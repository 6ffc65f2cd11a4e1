// The main of every unit-test program. The code under test uses the box's
// absolute paths ("/etc/app.ini", "/tmp/debug_main.txt", "/board/...")
// and ports, so it runs only in a throwaway box, where "tools/box isolate"
// leaves its mark; anywhere else it would change the host's own files.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#define TEST_BOX_MARK "/board/isolated"

int main(int argc, char **argv)
{
    if (access(TEST_BOX_MARK, F_OK) != 0) {
        char azSelf[PATH_MAX];
        if (realpath(argv[0], azSelf) == nullptr)
            snprintf(azSelf, sizeof(azSelf), "%s", argv[0]);
        fprintf(stderr, "%s: unit tests change the files of the machine they run on; run them with: %s isolate %s\n",
                argv[0], HDMITX_BOX_TOOL, azSelf);
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
