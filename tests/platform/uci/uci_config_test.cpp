// UCI text: reading with its quoting rules, section references, writing the canonical layout
// and clear errors for malformed files.
#include "uci_config.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

uci::Config parseOk(const std::string &text) {
    uci::Config c;
    uci::ParseError err;
    EXPECT_TRUE(uci::parse(text, c, err)) << err.line << ": " << err.reason;
    return c;
}

TEST(UciConfig, ShippedSampleReadsAndWritesBackUnchanged) {
    std::ifstream in(std::string(ORVOX_SOURCE_DIR) + "/platform/uci/examples/asterisk");
    std::stringstream text;
    text << in.rdbuf();
    uci::Config c = parseOk(text.str());
    // The default virtual board's lines in its order: DECT, two phones, the exchange line.
    ASSERT_EQ(c.sections.size(), 5u);
    EXPECT_EQ(c.find("TEL")->find("country")->value, "SWE");
    EXPECT_EQ(c.find("telline0")->find("name")->value, "DECT 1");
    EXPECT_EQ(c.find("telline3")->find("name")->value, "Exchange 1");
    for (int line = 0; line < 4; line++) {
        uci::Section *s = c.find("telline" + std::to_string(line));
        ASSERT_NE(s, nullptr);
        for (const char *option : {"name", "noise", "echo_cancel", "vad", "txgain", "rxgain"})
            EXPECT_NE(s->find(option), nullptr) << option;
    }
    EXPECT_EQ(uci::format(c), text.str());
}

TEST(UciConfig, QuotingListsAndCanonicalOutput) {
    uci::Config c = parseOk(
        "package asterisk\n"
        "# a comment\n"
        "config line 'a'   # trailing comment\n"
        "\toption plain word\n"
        "\toption single 'it'\\''s'\n"
        "\toption double \"say \\\"hi\\\" #1\"\n"
        "\toption empty ''\n"
        "\tlist ports '5060'\n"
        "\tlist ports 5061\n"
        "config line\n"
        "\toption name 'anon'\n"
        "config line 'a'\n"
        "\toption plain replaced\n");
    ASSERT_EQ(c.sections.size(), 2u);  // the repeated name reopens the first section
    uci::Section &a = c.sections[0];
    EXPECT_EQ(a.find("plain")->value, "replaced");
    EXPECT_EQ(a.find("single")->value, "it's");
    EXPECT_EQ(a.find("double")->value, "say \"hi\" #1");
    EXPECT_EQ(a.find("empty")->value, "");
    EXPECT_EQ(a.find("ports")->items, (std::vector<std::string>{"5060", "5061"}));
    uci::Section &anon = c.sections[1];
    EXPECT_TRUE(anon.anonymous);
    EXPECT_EQ(anon.name.substr(0, 5), "cfg02");
    EXPECT_EQ(anon.name.size(), 9u);
    EXPECT_EQ(c.find("@line[1]"), &anon);
    EXPECT_EQ(c.find("@line[-1]"), &anon);
    EXPECT_EQ(c.find("@line[0]"), &a);
    EXPECT_EQ(c.find("@line[2]"), nullptr);
    EXPECT_EQ(c.find("@other[0]"), nullptr);
    EXPECT_EQ(uci::format(c),
              "\nconfig line 'a'\n\toption plain 'replaced'\n\toption single 'it'\\''s'\n"
              "\toption double 'say \"hi\" #1'\n\toption empty ''\n\tlist ports '5060'\n\tlist ports '5061'\n"
              "\nconfig line\n\toption name 'anon'\n\n");
    // What we write reads back to the same configuration.
    EXPECT_EQ(uci::format(parseOk(uci::format(c))), uci::format(c));
}

TEST(UciConfig, MalformedFilesNameTheLineAndTheFault) {
    struct Case {
        const char *text;
        int line;
        const char *reason;
    } cases[] = {
        {"config line 'a\n", 1, "unterminated quote"},
        {"\n\toption name x\n", 2, "option outside of a section"},
        {"config line a\n\toption name\n", 2, "option needs a name and a value"},
        {"config line a\nsetting x y\n", 2, "unknown keyword 'setting'"},
        {"config line 'bad-name'\n", 1, "invalid section name 'bad-name'"},
        {"config line a\n\toption 'na me' x\n", 2, "invalid option name 'na me'"},
        {"config\n", 1, "config needs a type and at most one name"},
        {"config line a\n\toption x \"open\n", 2, "unterminated quote"},
    };
    for (const Case &k : cases) {
        uci::Config c;
        uci::ParseError err;
        EXPECT_FALSE(uci::parse(k.text, c, err)) << k.text;
        EXPECT_EQ(err.line, k.line) << k.text;
        EXPECT_EQ(err.reason, k.reason) << k.text;
    }
}

TEST(UciConfig, NamesAndSectionReferences) {
    EXPECT_TRUE(uci::validSectionRef("telline0"));
    EXPECT_TRUE(uci::validSectionRef("@tel_line[2]"));
    EXPECT_TRUE(uci::validSectionRef("@tel_line[-1]"));
    EXPECT_FALSE(uci::validSectionRef("tel-line"));
    EXPECT_FALSE(uci::validSectionRef("@[1]"));
    EXPECT_FALSE(uci::validSectionRef("@x[]"));
    EXPECT_FALSE(uci::validSectionRef(""));
    EXPECT_TRUE(uci::validConfigName("asterisk"));
    EXPECT_FALSE(uci::validConfigName("../passwd"));
    EXPECT_FALSE(uci::validConfigName("a/b"));
}

}  // namespace
