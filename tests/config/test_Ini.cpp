#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "config/Ini.h"
#include "tests/config/ConfigTest.h"
#include "tests/support/Files.h"

static const char INI_PATH[] = "/tmp/test.ini";

struct IniTest : public testing::Test {
    dictionary *d = nullptr;
    char azWhy[INI_WHY_LEN] = "";

    void TearDown() override { ini_freedict(d); }
    dictionary *Load(const std::string &text)
    {
        File_Write(INI_PATH, text);
        ini_freedict(d);
        d = ini_load(INI_PATH, azWhy);
        return d;
    }
    std::string Dump()
    {
        char *psz = nullptr;
        size_t sizeLen = 0;
        FILE *f = open_memstream(&psz, &sizeLen);
        EXPECT_EQ(0, ini_dump_ini(d, f));
        fclose(f);
        std::string s(psz, sizeLen);
        free(psz);
        return s;
    }
    std::string Get(const char *pszKey) { return ini_getstring(d, pszKey, "<absent>"); }
    // Every section and key with its value.
    std::map<std::string, std::string> Entries()
    {
        std::map<std::string, std::string> entries;
        for (s32 i = 0; i < d->size; i++)
            if (d->key[i] != nullptr)
                entries[d->key[i]] = d->val[i] != nullptr ? d->val[i] : "<section>";
        return entries;
    }
};

// Update only, insert only, and the common set on top of both.
TEST_F(IniTest, DictionarySetUpdatesAddInserts)
{
    d = dictionary_new(10);
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(-1, dictionary_set(d, "a", "1"));   // empty dictionary
    EXPECT_EQ(0, dictionary_add(d, "a", "1"));
    EXPECT_EQ(-1, dictionary_add(d, "a", "2"));
    EXPECT_EQ(0, dictionary_set(d, "a", "3"));
    EXPECT_STREQ("3", dictionary_get(d, "a", nullptr));
    EXPECT_EQ(-1, dictionary_set(d, "b", "3"));
    EXPECT_EQ(0, dictionary_modify(d, "b", "4"));
    EXPECT_EQ(0, dictionary_setint(d, "b", -42));
    dictionary_unset(d, "a");
    dictionary_unset(d, "never there");
    EXPECT_EQ(1, d->n);
    EXPECT_EQ(0, dictionary_add(d, "c", nullptr));
    EXPECT_EQ(nullptr, dictionary_get(d, "c", "def"));
    EXPECT_STREQ("-42", dictionary_get(d, "b", nullptr));
    EXPECT_EQ(-1, dictionary_add(nullptr, "k", "v"));
    EXPECT_EQ(-1, dictionary_modify(d, nullptr, "v"));
}

// Past the first 512 entries and comments the arrays grow and keep every
// entry.
TEST_F(IniTest, DictionaryGrows)
{
    d = dictionary_new(0);
    for (s32 i = 0; i < 600; i++) {
        ASSERT_EQ(0, ini_add_entry(d, "s", std::to_string(i).c_str(), std::to_string(i * 3).c_str()));
        ASSERT_EQ(0, ini_add_comment(d, "s", std::to_string(i).c_str(), "; c", INI_COMMENT_LINE));
    }
    for (s32 i = 0; i < 600; i++)
        ASSERT_EQ(i * 3, ini_getint(d, ("s:" + std::to_string(i)).c_str(), -1));
    const std::string text = Dump();
    size_t sizeComments = 0;
    for (size_t pos = text.find("; c\n"); pos != std::string::npos; pos = text.find("; c\n", pos + 1))
        sizeComments++;
    EXPECT_EQ(600u, sizeComments);
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
    ASSERT_NE(nullptr, Load("[Sec]\na = \"\"\nb = ''\nc =\nd = \"quoted ; not a comment\"\ne = 'single'\n"
                            "f = plain value   \ng = 5 ;comment\nh = ;only a comment\n  KEY = Up\r\n"
                            "i = \"unterminated\nj = \"  lead\"  \n"));
    const char *apszWant[][2] = { { "sec:a", "" },         { "sec:b", "" },
                                  { "sec:c", "" },         { "sec:d", "quoted ; not a comment" },
                                  { "sec:e", "single" },   { "sec:f", "plain value" },
                                  { "sec:g", "5" },        { "sec:h", "" },
                                  { "SEC:Key", "Up" },     { "sec:i", "unterminated" },
                                  { "sec:j", "  lead" } };
    for (const auto &apsz : apszWant)
        EXPECT_EQ(apsz[1], Get(apsz[0])) << apsz[0];
    EXPECT_EQ(1, ini_getnsec(d));
}

// A quote opened and not closed quotes the rest of the line, for either
// kind of quote; values that begin or end with a quote come back as saved.
TEST_F(IniTest, UnclosedQuoteTakesTheRestOfTheLine)
{
    ASSERT_NE(nullptr, Load("[s]\na = \"abc\nb = 'it is ; all\nc = \"x'y  \nd = \"\n"));
    EXPECT_EQ("abc", Get("s:a"));
    EXPECT_EQ("it is ; all", Get("s:b"));
    EXPECT_EQ("x'y", Get("s:c"));
    EXPECT_EQ("\"", Get("s:d"));
    for (const char *psz : { "\"abc", "'abc", "abc\"", "abc'", "\"", "'" }) {
        ASSERT_EQ(0, ini_setstr(d, "s:a", psz));
        ASSERT_NE(nullptr, Load(Dump()));
        EXPECT_EQ(psz, Get("s:a"));
    }
}

TEST_F(IniTest, ReadsNumbersAndBooleans)
{
    ASSERT_NE(nullptr, Load("[n]\nhex = 0x10\noct = 010\nneg = -1\njunk = abc\nlead = 12abc\n"
                            "empty =\nbig = 3000000000\nallones = 0xFFFFFFFF\nd = 2.5\n"
                            "y = yes\nn = No\nt = true\nz = 0\nq = maybe\n"));
    const struct { const char *pszKey; s32 s32Int, s32Bool; } astWant[] = {
        { "n:hex", 16, 0 },   { "n:oct", 8, 0 },     { "n:neg", -1, -1 },
        { "n:junk", 0, -1 },  { "n:lead", 12, 1 },   { "n:empty", 0, -1 },
        { "n:big", (s32)3000000000u, -1 },           { "n:allones", -1, 0 },
        { "n:missing", -5, -1 },                     { "n", -5, -1 },   // a section has no value
        { "n:y", 0, 1 },      { "n:n", 0, 0 },       { "n:t", 0, 1 },
        { "n:z", 0, 0 },      { "n:q", 0, -1 },
    };
    for (const auto &st : astWant) {
        EXPECT_EQ(st.s32Int, ini_getint(d, st.pszKey, -5)) << st.pszKey;
        EXPECT_EQ(st.s32Bool, ini_getboolean(d, st.pszKey, -1)) << st.pszKey;
    }
    EXPECT_DOUBLE_EQ(2.5, ini_getdouble(d, "n:d", 0));
    EXPECT_DOUBLE_EQ(-3, ini_getdouble(d, "n:missing", -3));
}

// Comments and blank lines come back where they were; a repeated key keeps
// its first value and its line is gone, as is a line that is no section
// and no key.
TEST_F(IniTest, WritesCommentsInPlace)
{
    testing::internal::CaptureStdout();
    ASSERT_NE(nullptr, Load("; top comment\n[S]   ; after the section\na = 1\n    # indented\n   \n"
                            "b = 2 ;tail\nno equals sign here\nB = 3\n# last\n"));
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                testing::EndsWith("]: ini: line not kept in /tmp/test.ini (7):no equals sign here\n"));
    EXPECT_EQ("2", Get("s:b"));
    std::string header = Header("s");
    header.pop_back();
    EXPECT_EQ("; top comment\n" + header + "; after the section\n" + Entry("a", "1") +
                  std::string(48, ' ') + "# indented\n\r\n" + Entry("b", "2").substr(0, 50) + ";tail\n# last\n",
              Dump());

    // A trailing comment whose line came after a blank one gets a line of
    // its own: no lone "\r" is written, and a text that is no comment is
    // made one, so that it cannot come back as a key.
    ASSERT_NE(nullptr, Load("[s]\nk = 1\n\nk = 2 ;again\n\nk = \"3\" j = 4\n"));
    EXPECT_EQ(Header("s") + Entry("k", "1") + "\r\n;again\n\r\n; j = 4\n", Dump());
    ASSERT_NE(nullptr, Load(Dump()));
    EXPECT_EQ(0, ini_find_entry(d, "s:j"));
}

// Junk, binary or not, cannot come back as sections and keys: a line that
// is no section, key, comment or blank line, or that holds a control
// character, is not kept. The log quotes the first few, escaped and cut,
// and counts the rest. Names are printable; values and comments may hold
// UTF-8 text.
TEST_F(IniTest, JunkLinesAreNotKept)
{
    const std::string valid = "; caf\xc3\xa9 settings\n[s]\nname = caf\xc3\xa9\nk\t=\tv ; tab\n\n";
    const std::string junk = "[open\n[b\x01" "d]\nk\x80y = v\nval = a\x7f b\nnul = a" + std::string(1, '\0') +
                             "b\n=lonely\n; bell\x07\n";
    std::string binary;
    u32 u32Seed = 1;
    for (s32 i = 0; i < 65536; i++) {
        u32Seed = u32Seed * 1103515245u + 12345u;
        binary += (char)(u32Seed >> 16);
    }
    const std::string tail = "\n[t]\nj = 1\n";
    ASSERT_NE(nullptr, Load(valid + tail));
    // Empty lines within the junk are blank lines, kept as such.
    auto dropBlanks = [](std::string text) {
        for (size_t pos = text.find("\r\n"); pos != std::string::npos; pos = text.find("\r\n"))
            text.erase(pos, 2);
        return text;
    };
    const std::string clean = dropBlanks(Dump());
    EXPECT_EQ("caf\xc3\xa9", Get("s:name"));
    EXPECT_EQ("v", Get("s:k"));

    testing::internal::CaptureStdout();
    ASSERT_NE(nullptr, Load(valid + junk + binary + tail));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(clean, dropBlanks(Dump()));
    EXPECT_EQ(5, d->n);
    EXPECT_THAT(log, testing::ContainsRegex(
                         "^\\[[0-9 :.]+\\]: ini: line not kept in /tmp/test.ini \\(6\\):\\[open\n"
                         ".*\\(7\\):\\[b\\\\x01d\\]\n.*\\(8\\):k\\\\x80y = v\n.*\\(9\\):val = a\\\\x7f b\n"
                         ".*\\]: ini: [0-9]+ more lines not kept in /tmp/test.ini\n$"));
    std::istringstream in(log);
    size_t sizeLines = 0;
    for (std::string line; std::getline(in, line); sizeLines++) {
        EXPECT_LT(line.size(), 300u);
        for (char c : line)
            ASSERT_TRUE(c >= 0x20 && c < 0x7f) << log;
    }
    EXPECT_EQ(5u, sizeLines);
}

TEST_F(IniTest, JoinsContinuationsAndSkipsOverLongLines)
{
    std::string longLine = "x = " + std::string(1100, 'y') + "\n";
    std::string longest = "w = " + std::string(1018, 'v') + "\n";   // 1022 characters
    std::string lastLine = "z = " + std::string(1019, 'u');         // 1023, no line end
    testing::internal::CaptureStdout();
    ASSERT_NE(nullptr, Load("[s]\r\n" + longLine + "a = one \\\n  two\\\r\n three\n" + longest + lastLine));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, testing::MatchesRegex("\\[[0-9 :.]+\\]: ini: input line too long in /tmp/test.ini "
                                           "\\(2\\):x = y{44}\\.\\.\\.\n"));
    EXPECT_EQ(0, ini_find_entry(d, "s:x"));
    EXPECT_EQ("one   two three", Get("s:a"));
    EXPECT_EQ(std::string(1018, 'v'), Get("s:w"));
    EXPECT_EQ(std::string(1019, 'u'), Get("s:z"));

    ASSERT_NE(nullptr, Load("[s]\nk = v"));   // last line without a line end
    EXPECT_EQ("v", Get("s:k"));
}

// Sections keep their first place and the writer groups keys under them;
// a long section name is not padded, a null value is a blank.
TEST_F(IniTest, WriterLineForms)
{
    ASSERT_NE(nullptr, Load("[a]\nk = 1\n[b]\nk = 2\n[A]\nj = 3\n"));
    EXPECT_EQ(2, ini_getnsec(d));
    EXPECT_STREQ("b", ini_getsecname(d, 1));
    EXPECT_EQ(nullptr, ini_getsecname(d, 2));
    EXPECT_EQ(Header("a") + Entry("k", "1") + Entry("j", "3") + Header("b") + Entry("k", "2"), Dump());
    ini_unset(d, "A:K");
    EXPECT_EQ(0, ini_find_entry(d, "a:k"));

    std::string longName(60, 's');
    ini_freedict(d);
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

// The writer never writes a line the loader drops: a trailing text that
// does not fit goes on a line of its own, padding shrinks, a value too long
// for quotes goes bare. Every section and key reads back as loaded.
TEST_F(IniTest, SavedLinesStayWithinTheLoadersBound)
{
    const std::string c999 = ";" + std::string(999, 'c'), c990 = ";" + std::string(990, 'c');
    const char *apszFiles[] = {
        "trailing comments", "long name and value", "bare value", "bare value, one character left",
        "indented comment",
    };
    const std::string texts[] = {
        "[devattr]\nalias = \"trail7\" " + c999 + "\n[manualattr] " + c990 + "\nid = \"300\" " + c999 +
            "\nlcdmode = 0\n",
        "[s]\n" + std::string(1005, 'k') + "=\"v\"\n" + std::string(1000, 'n') + "=\"" + std::string(18, 'v') + "\"\n",
        "[s]\nk=" + std::string(1020, 'v') + "\nj = 2\n",
        "[s]\n" + std::string(30, 'n') + "=" + std::string(990, 'v') + "\n" + std::string(30, 'n') + " = \"2\" x\n",
        "[s]\nk = 1\n " + c990 + std::string(30, 'c') + "\n",
    };
    for (size_t i = 0; i < sizeof(texts) / sizeof(texts[0]); i++) {
        ASSERT_NE(nullptr, Load(texts[i])) << apszFiles[i];
        const std::map<std::string, std::string> loaded = Entries();
        const std::string text = Dump();
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            EXPECT_LE(line.size(), (size_t)INI_LINE_MAX) << apszFiles[i] << ": " << line.substr(0, 60);
        testing::internal::CaptureStdout();
        ASSERT_NE(nullptr, Load(text)) << apszFiles[i];
        EXPECT_EQ("", testing::internal::GetCapturedStdout()) << apszFiles[i];
        EXPECT_EQ(loaded, Entries()) << apszFiles[i];
    }
}

// The text helpers write into buffers of their own: a longer text is cut.
TEST_F(IniTest, TextHelpersKeepTheirLimit)
{
    EXPECT_STREQ("x y", strstrip(" \t x y \n"));
    const std::string big(2000, 'a');
    for (char *(*pfn)(const char *) : { strlwc, strupc, strcrop, strstrip }) {
        EXPECT_EQ(1024u, strlen(pfn(big.c_str())));
        EXPECT_EQ(nullptr, pfn(nullptr));
    }
}

// A file that cannot be opened, or is no regular file (here a directory),
// is no file: an empty dictionary would stand for it and defaults would
// replace it. The caller is told why.
TEST_F(IniTest, UnreadableFileGivesNoDictionary)
{
    EXPECT_EQ(nullptr, ini_load("/tmp/no/such/file.ini", azWhy));
    EXPECT_STREQ("No such file or directory", azWhy);
    EXPECT_EQ(nullptr, ini_load(nullptr, azWhy));
    EXPECT_STREQ("no path", azWhy);
    ASSERT_EQ(0, mkdir("/tmp/ini.dir", 0755));
    EXPECT_EQ(nullptr, ini_load("/tmp/ini.dir", azWhy));
    EXPECT_STREQ("not a regular file", azWhy);
    rmdir("/tmp/ini.dir");
}

// The loader reads no more than its bound: a longer file is no file (as
// one that cannot be read), and the caller is told why. An endless device
// is not read at all.
TEST_F(IniTest, FilePastTheBoundIsNotTaken)
{
    std::string text = "[s]\nk = 1\n";
    while (text.size() + 10 <= INI_FILE_MAX)
        text += "; comment\n";
    text.append(INI_FILE_MAX - text.size(), '\n');
    ASSERT_NE(nullptr, Load(text));
    EXPECT_EQ("1", Get("s:k"));
    EXPECT_EQ(nullptr, Load(text + ";"));
    EXPECT_EQ("longer than " + std::to_string(INI_FILE_MAX) + " bytes", std::string(azWhy));
    EXPECT_EQ(nullptr, ini_load("/dev/zero", azWhy));
    EXPECT_STREQ("not a regular file", azWhy);
}
