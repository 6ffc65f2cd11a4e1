#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "config/Ini.h"
#include "tests/config/ConfigTest.h"

static const char INI_PATH[] = "/tmp/test.ini";

struct IniTest : public testing::Test {
    dictionary *d = nullptr;

    void TearDown() override { ini_freedict(d); }
    dictionary *Load(const std::string &text)
    {
        WriteFile(INI_PATH, text);
        ini_freedict(d);
        d = ini_load(INI_PATH);
        return d;
    }
    std::string Dump(void (*pfnDump)(const dictionary *, FILE *) = nullptr)
    {
        char *psz = nullptr;
        size_t sizeLen = 0;
        FILE *f = open_memstream(&psz, &sizeLen);
        if (pfnDump != nullptr)
            pfnDump(d, f);
        else
            EXPECT_EQ(0, ini_dump_ini(d, f));
        fclose(f);
        std::string s(psz, sizeLen);
        free(psz);
        return s;
    }
    std::string Get(const char *pszKey) { return ini_getstring(d, pszKey, "<absent>"); }
};

// Update only, insert only, and the common set on top of both.
TEST_F(IniTest, DictionarySetUpdatesAddInserts)
{
    d = dictionary_new(10);
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(512, d->size);
    EXPECT_EQ(512, d->comment_size);
    EXPECT_EQ(-1, dictionary_set(d, "a", "1"));   // empty dictionary
    EXPECT_EQ(0, dictionary_add(d, "a", "1"));
    EXPECT_EQ(-1, dictionary_add(d, "a", "2"));
    EXPECT_STREQ("1", dictionary_get(d, "a", nullptr));
    EXPECT_EQ(0, dictionary_set(d, "a", "3"));
    EXPECT_EQ(-1, dictionary_set(d, "b", "3"));
    EXPECT_STREQ("x", dictionary_get(d, "b", "x"));
    EXPECT_EQ(0, dictionary_modify(d, "b", "4"));
    EXPECT_EQ(0, dictionary_modify(d, "b", "5"));
    EXPECT_STREQ("5", dictionary_get(d, "b", nullptr));
    EXPECT_EQ(2, d->n);
    EXPECT_EQ(0, dictionary_setint(d, "b", -42));
    EXPECT_EQ(-42, dictionary_getint(d, "b", 0));
    EXPECT_EQ('-', dictionary_getchar(d, "b", 'z'));
    EXPECT_EQ(0, dictionary_setdouble(d, "a", 2.5));
    EXPECT_DOUBLE_EQ(2.5, dictionary_getdouble(d, "a", 0));
    EXPECT_EQ(7, dictionary_getint(d, "c", 7));
    dictionary_unset(d, "a");
    dictionary_unset(d, "never there");
    EXPECT_EQ(1, d->n);
    EXPECT_EQ(0, dictionary_add(d, "c", nullptr));
    EXPECT_EQ(nullptr, dictionary_get(d, "c", "def"));
    // c took a's slot.
    EXPECT_EQ("                   c\t[UNDEF]\n                   b\t[-42]\n", Dump(dictionary_dump));
    EXPECT_EQ(-1, dictionary_add(nullptr, "k", "v"));
    EXPECT_EQ(-1, dictionary_modify(d, nullptr, "v"));
}

// The 513th entry and the 513th comment double their arrays; a freed slot
// is used again first.
TEST_F(IniTest, DictionaryGrowsByDoubling)
{
    d = dictionary_new(0);
    for (s32 i = 0; i < 600; i++) {
        ASSERT_EQ(0, ini_add_entry(d, "s", std::to_string(i).c_str(), std::to_string(i * 3).c_str()));
        ASSERT_EQ(0, ini_add_comment(d, "s", std::to_string(i).c_str(), "; c", INI_COMMENT_LINE));
    }
    EXPECT_EQ(1024, d->size);
    EXPECT_EQ(1024, d->comment_size);
    for (s32 i = 0; i < 600; i++)
        ASSERT_EQ(i * 3, ini_getint(d, ("s:" + std::to_string(i)).c_str(), -1));
    dictionary_unset(d, "s:7");
    ASSERT_EQ(0, dictionary_add(d, "s:new", "x"));
    EXPECT_STREQ("s:new", d->key[7]);
    EXPECT_EQ(-1, ini_add_comment(d, "s", "k", "x", INI_COMMENT_FREE));
}

// A value with a line end, both kinds of quote, or one that reads back
// empty cannot be written back: every setter refuses it, nothing changes.
TEST_F(IniTest, SettersRefuseValuesTheFileCannotHold)
{
    d = dictionary_new(0);
    ASSERT_EQ(0, ini_add_entry(d, "s", nullptr, nullptr));
    ASSERT_EQ(0, ini_add_entry(d, "s", "k", "old"));
    for (const char *psz : { "a\nb", "a\rb", "it's \"x\"", "\"\"", "''" }) {
        EXPECT_EQ(-1, ini_setstr(d, "s:k", psz)) << psz;
        EXPECT_EQ(-1, dictionary_set(d, "s:k", psz)) << psz;
        EXPECT_EQ(-1, ini_add_entry(d, "s", "new", psz)) << psz;
        EXPECT_EQ(-1, dictionary_modify(d, "s:other", psz)) << psz;
    }
    EXPECT_EQ("old", Get("s:k"));
    EXPECT_EQ(0, ini_find_entry(d, "s:new"));
    EXPECT_EQ(1, ini_setstr(d, "s:absent", "v"));
    EXPECT_EQ(0, ini_find_entry(d, "s:absent"));
    EXPECT_EQ(1, ini_add_entry(d, "s", "k", "v"));

    // A double quote alone is written in single quotes and reads back.
    const char azQuoted[] = "say \"hi\"; ok";
    ASSERT_EQ(0, ini_setstr(d, "S:K", azQuoted));
    ASSERT_NE(nullptr, Load(Dump()));
    EXPECT_EQ(azQuoted, Get("s:k"));
}

TEST_F(IniTest, LoadsEveryValueForm)
{
    ASSERT_NE(nullptr, Load("[Sec]\n"
                            "a = \"\"\n"
                            "b = ''\n"
                            "c =\n"
                            "d = \"quoted ; not a comment\"\n"
                            "e = 'single'\n"
                            "f = plain value   \n"
                            "g = 5 ;comment\n"
                            "h = ;only a comment\n"
                            "  KEY = Up\r\n"
                            "i = \"unterminated\n"
                            "j = \"  lead\"  \n"));
    EXPECT_EQ("", Get("sec:a"));
    EXPECT_EQ("", Get("sec:b"));
    EXPECT_EQ("", Get("sec:c"));
    EXPECT_EQ("quoted ; not a comment", Get("sec:d"));
    EXPECT_EQ("single", Get("sec:e"));
    EXPECT_EQ("plain value", Get("sec:f"));
    EXPECT_EQ("5", Get("sec:g"));
    EXPECT_EQ("", Get("sec:h"));
    EXPECT_EQ("Up", Get("SEC:Key"));
    EXPECT_EQ("\"unterminated", Get("sec:i"));
    EXPECT_EQ("  lead", Get("sec:j"));
    EXPECT_EQ(1, ini_getnsec(d));
}

TEST_F(IniTest, ReadsNumbersAndBooleans)
{
    ASSERT_NE(nullptr, Load("[n]\nhex = 0x10\noct = 010\nneg = -1\njunk = abc\nlead = 12abc\n"
                            "empty =\nbig = 3000000000\nallones = 0xFFFFFFFF\nd = 2.5\n"
                            "y = yes\nn = No\nt = true\nz = 0\nq = maybe\n"));
    EXPECT_EQ(16, ini_getint(d, "n:hex", -5));
    EXPECT_EQ(8, ini_getint(d, "n:oct", -5));
    EXPECT_EQ(-1, ini_getint(d, "n:neg", -5));
    EXPECT_EQ(0, ini_getint(d, "n:junk", -5));
    EXPECT_EQ(12, ini_getint(d, "n:lead", -5));
    EXPECT_EQ(0, ini_getint(d, "n:empty", -5));
    EXPECT_EQ((s32)3000000000u, ini_getint(d, "n:big", -5));
    EXPECT_EQ(-1, ini_getint(d, "n:allones", -5));
    EXPECT_EQ(-5, ini_getint(d, "n:missing", -5));
    EXPECT_EQ(-5, ini_getint(d, "n", -5));           // a section has no value
    EXPECT_DOUBLE_EQ(2.5, ini_getdouble(d, "n:d", 0));
    EXPECT_DOUBLE_EQ(-3, ini_getdouble(d, "n:missing", -3));
    EXPECT_EQ(1, ini_getboolean(d, "n:y", -1));
    EXPECT_EQ(0, ini_getboolean(d, "n:n", -1));
    EXPECT_EQ(1, ini_getboolean(d, "n:t", -1));
    EXPECT_EQ(0, ini_getboolean(d, "n:z", -1));
    EXPECT_EQ(-1, ini_getboolean(d, "n:q", -1));
    EXPECT_EQ(-1, ini_getboolean(d, "n:empty", -1));
    EXPECT_EQ(-1, ini_getboolean(d, "n:missing", -1));
}

// Comments, blank and unreadable lines come back where they were; a
// repeated key keeps its first value and its line is gone.
TEST_F(IniTest, WritesCommentsInPlace)
{
    ASSERT_NE(nullptr, Load("; top comment\n"
                            "[S]   ; after the section\n"
                            "a = 1\n"
                            "    # indented\n"
                            "   \n"
                            "b = 2 ;tail\n"
                            "no equals sign here\n"
                            "B = 3\n"
                            "# last\n"));
    EXPECT_EQ("2", Get("s:b"));
    std::string header = Header("s");
    header.pop_back();
    EXPECT_EQ("; top comment\n" + header + "; after the section\n" + Entry("a", "1") +
                  std::string(48, ' ') + "# indented\n\r\n" + Entry("b", "2").substr(0, 50) +
                  ";tail\n\r\n# last\n",
              Dump());
}

TEST_F(IniTest, JoinsContinuationsAndSkipsOverLongLines)
{
    std::string longLine = "x = " + std::string(1100, 'y') + "\n";
    std::string longest = "w = " + std::string(1018, 'v') + "\n";   // 1022 characters
    std::string lastLine = "z = " + std::string(1019, 'u');         // 1023, no line end
    testing::internal::CaptureStderr();
    ASSERT_NE(nullptr, Load("[s]\r\n" + longLine + "a = one \\\n  two\\\r\n three\n" + longest + lastLine));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ("ini: input line too long in /tmp/test.ini (2):x = " + std::string(1019, 'y') + "\n", err);
    EXPECT_EQ(0, ini_find_entry(d, "s:x"));
    EXPECT_EQ("one   two three", Get("s:a"));
    EXPECT_EQ(std::string(1018, 'v'), Get("s:w"));
    EXPECT_EQ(std::string(1019, 'u'), Get("s:z"));

    ASSERT_NE(nullptr, Load("[s]\nk = v"));   // last line without a line end
    EXPECT_EQ("v", Get("s:k"));
}

// Sections keep their first place; the writer groups keys under them.
TEST_F(IniTest, RepeatedSectionsGather)
{
    ASSERT_NE(nullptr, Load("[a]\nk = 1\n[b]\nk = 2\n[A]\nj = 3\n"));
    EXPECT_EQ(2, ini_getnsec(d));
    EXPECT_STREQ("a", ini_getsecname(d, 0));
    EXPECT_STREQ("b", ini_getsecname(d, 1));
    EXPECT_EQ(nullptr, ini_getsecname(d, 2));
    EXPECT_EQ(Header("a") + Entry("k", "1") + Entry("j", "3") + Header("b") + Entry("k", "2"), Dump());
    ini_unset(d, "A:K");
    EXPECT_EQ(0, ini_find_entry(d, "a:k"));
    EXPECT_EQ(-1, ini_getnsec(nullptr));
}

TEST_F(IniTest, WriterLineForms)
{
    std::string longName(60, 's');
    d = dictionary_new(0);
    ASSERT_EQ(0, ini_add_entry(d, longName.c_str(), nullptr, nullptr));
    ASSERT_EQ(0, ini_add_entry(d, longName.c_str(), "nil", nullptr));
    ASSERT_EQ(0, ini_add_entry(d, longName.c_str(), "long", "a value longer than fifteen"));
    EXPECT_EQ("[" + longName + "]\n" + Entry("nil", " ") + Entry("long", "a value longer than fifteen"),
              Dump());

    // Without sections every entry is written once, under the top comments.
    ASSERT_NE(nullptr, Load("; c\nk = v\n"));
    EXPECT_EQ(0, ini_getnsec(d));
    EXPECT_EQ("; c\n" + Entry("k", "v"), Dump());
    ASSERT_NE(nullptr, Load(Dump()));
    EXPECT_EQ("v", Get(":k"));
}

TEST_F(IniTest, DebugDumps)
{
    ASSERT_NE(nullptr, Load("[s]\nk = v\n"));
    EXPECT_EQ("[s]=UNDEF\n[s:k]=[v]\n", Dump(ini_dump));
    testing::internal::CaptureStdout();
    ini_mem_printf(d);
    EXPECT_EQ("[s]\n" + Pad("k", 30) + " = " + Pad("v", 15) + "\n", testing::internal::GetCapturedStdout());
    ini_freedict(d);
    d = dictionary_new(0);
    EXPECT_EQ("empty dictionary\n", Dump(dictionary_dump));
}

TEST_F(IniTest, TextHelpersKeepTheirLimit)
{
    EXPECT_STREQ("mixed case", strlwc("MiXed CASE"));
    EXPECT_STREQ("MIXED CASE", strupc("MiXed case"));
    char az[] = " \t x y ";
    EXPECT_STREQ("x y ", strskp(az));
    EXPECT_STREQ(" x", strcrop(" x \t\n"));
    EXPECT_STREQ("x y", strstrip("  x y  "));
    EXPECT_EQ(1024u, strlen(strlwc(std::string(2000, 'A').c_str())));
    EXPECT_EQ(nullptr, strlwc(nullptr));
}

// A file that opens but cannot be read (here a directory) is no file: an
// empty dictionary would stand for it and defaults would replace it.
TEST_F(IniTest, UnreadableFileGivesNoDictionary)
{
    EXPECT_EQ(nullptr, ini_load("/tmp/no/such/file.ini"));
    EXPECT_EQ(nullptr, ini_load(nullptr));
    ASSERT_EQ(0, mkdir("/tmp/ini.dir", 0755));
    EXPECT_EQ(nullptr, ini_load("/tmp/ini.dir"));
    rmdir("/tmp/ini.dir");
}
