// Splitting a command line by the Windows rules, and quoting an argument so
// that the split gives it back.
#include "base/CommandLine.h"
#include "support/TestSupport.h"

using Platform::EscapeInsideQuotes;
using Platform::SplitCommandLine;
using Strings = std::vector<std::string>;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(Strings)

namespace {

// Texts that a file name or an argument may hold and that a careless quoting
// would break.
Strings hostileTexts()
{
    return {"",
            "plain",
            "with blank",
            "/home/user/My Videos/clip 1.avi",
            "say \"hi\"",
            "\"",
            "\"\"",
            "a\\b",
            "trailing\\",
            "trailing\\\\",
            "\\\\server\\share\\",
            "before quote\\\"",
            "\\\\\"",
            "line\nbreak",
            "tab\there",
            "$HOME $(ls) `id`",
            "-leading-dash",
            "%PATH% ; & | > <",
            "\xc5\xa0ta \xc4\x8d"
            "e \xd0\x96",
            "  blanks around  "};
}

}  // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void splitsByTheWindowsRules_data()
    {
        QTest::addColumn<std::string>("commandLine");
        QTest::addColumn<Strings>("arguments");
        QTest::newRow("blanks separate") << std::string("  prog  a\tb  ") << Strings{"prog", "a", "b"};
        QTest::newRow("empty line") << std::string("") << Strings{};
        QTest::newRow("blanks only") << std::string(" \t ") << Strings{};
        QTest::newRow("quotes group") << std::string("p \"a b\" c") << Strings{"p", "a b", "c"};
        QTest::newRow("quotes join parts") << std::string("p a\"b c\"d") << Strings{"p", "ab cd"};
        QTest::newRow("empty quoted argument") << std::string("p \"\" x") << Strings{"p", "", "x"};
        QTest::newRow("unclosed quote runs to the end") << std::string("p \"a b") << Strings{"p", "a b"};
        QTest::newRow("backslash escapes quote") << std::string("p a\\\"b") << Strings{"p", "a\"b"};
        QTest::newRow("two backslashes then quote")
            << std::string("p \"a\\\\\" b") << Strings{"p", "a\\", "b"};
        QTest::newRow("three backslashes then quote")
            << std::string("p a\\\\\\\"b") << Strings{"p", "a\\\"b"};
        QTest::newRow("backslashes elsewhere literal")
            << std::string("p a\\\\b\\ c\\") << Strings{"p", "a\\\\b\\", "c\\"};
        QTest::newRow("doubled quote inside quotes")
            << std::string("p \"a\"\"b\" c") << Strings{"p", "a\"b", "c"};
        QTest::newRow("line break is text") << std::string("p a\nb") << Strings{"p", "a\nb"};
        QTest::newRow("program in quotes with blank")
            << std::string("\"my prog\" x") << Strings{"my prog", "x"};
        QTest::newRow("program keeps backslashes")
            << std::string("C:\\dir\\\"x y\"\\ z") << Strings{"C:\\dir\\x y\\", "z"};
        QTest::newRow("program quote only toggles") << std::string("a\"b c\"d e") << Strings{"ab cd", "e"};
        QTest::newRow("converter line")
            << std::string(
                   "conv -i \"/v/in put.avi\" -vcodec flv -acodec mp3 -s 240x180 -y \"/p/html/flvs/in "
                   "put.flv\"")
            << Strings{"conv",    "-i", "/v/in put.avi",          "-vcodec", "flv", "-acodec", "mp3", "-s",
                       "240x180", "-y", "/p/html/flvs/in put.flv"};
    }
    void splitsByTheWindowsRules()
    {
        QFETCH(std::string, commandLine);
        QFETCH(Strings, arguments);
        QCOMPARE(SplitCommandLine(commandLine), arguments);
    }

    void quotedTextComesBackWhole_data()
    {
        QTest::addColumn<std::string>("text");
        for (const std::string& text : hostileTexts())
            QTest::newRow(QByteArray::fromStdString(text).toPercentEncoding().constData()) << text;
    }
    void quotedTextComesBackWhole()
    {
        QFETCH(std::string, text);
        const std::string commandLine =
            "conv -i \"" + EscapeInsideQuotes(text) + "\" -y \"" + EscapeInsideQuotes(text + "\\") + "\"";
        QCOMPARE(SplitCommandLine(commandLine), (Strings{"conv", "-i", text, "-y", text + "\\"}));
    }

    void ordinaryPathsStayUnchanged()
    {
        for (const std::string path : {"/home/user/My Videos/clip 1.avi", "C:\\Videos\\a b.wmv", "-x", "$a"})
            QCOMPARE(EscapeInsideQuotes(path), path);
        QCOMPARE(EscapeInsideQuotes("a\"b"), std::string("a\\\"b"));
        QCOMPARE(EscapeInsideQuotes("dir\\"), std::string("dir\\\\"));
    }
};

OZ_TEST_MAIN(CommandLineTest)
#include "tst_commandline.moc"
