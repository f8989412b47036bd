#include "ConfigFileParser.h"

#include <QStringList>
#include <QTest>

namespace {

QStringList toList(const std::vector<std::string>& pieces)
{
    QStringList list;
    for (const std::string& piece : pieces)
        list << QString::fromStdString(piece);
    return list;
}

} // namespace

class TestConfigFileParser : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void textAfterZeroByteIsIgnored();
    void split_data();
    void split();
    void splitWithCharacter();
};

void TestConfigFileParser::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("result");
    // The record after the call; it starts as "old" in every field.
    QTest::addColumn<QStringList>("fields");

    const QStringList untouched{"old", "old", "old", "old"};
    QTest::newRow("four lines") << QByteArray("host=oss.example.com\nbucket=b1\naccessId=id1\naccessSecret=s1") << true
                                << QStringList{"oss.example.com", "b1", "id1", "s1"};
    QTest::newRow("line feed after the last line")
        << QByteArray("host=h\nbucket=b\naccessId=i\naccessSecret=s\n") << true << QStringList{"h", "b", "i", "s"};
    QTest::newRow("further lines ignored")
        << QByteArray("host=h\nbucket=b\naccessId=i\naccessSecret=s\nhost=other\nmore") << true
        << QStringList{"h", "b", "i", "s"};
    QTest::newRow("carriage returns stay") << QByteArray("host=h\r\nbucket=b\r\naccessId=i\r\naccessSecret=s\r\n")
                                           << true << QStringList{"h\r", "b\r", "i\r", "s\r"};
    QTest::newRow("key inside a word") << QByteArray("myhost=h\nbucket=b\naccessId=i\naccessSecret=s") << true
                                       << QStringList{"h", "b", "i", "s"};
    QTest::newRow("blanks kept around the value")
        << QByteArray("  text host= h  \nbucket=b\naccessId=i\naccessSecret=s") << true
        << QStringList{" h  ", "b", "i", "s"};
    QTest::newRow("secret holding =") << QByteArray("host=h\nbucket=b\naccessId=i\naccessSecret=a=b=") << true
                                      << QStringList{"h", "b", "i", "a=b="};
    QTest::newRow("secret with the key twice")
        << QByteArray("host=h\nbucket=b\naccessId=i\naccessSecret=x accessSecret=y") << true
        << QStringList{"h", "b", "i", "x accessSecret=y"};
    QTest::newRow("empty id") << QByteArray("host=h\nbucket=b\naccessId=\naccessSecret=s") << true
                              << QStringList{"h", "b", "", "s"};
    QTest::newRow("empty text") << QByteArray() << false << untouched;
    QTest::newRow("three lines") << QByteArray("host=h\nbucket=b\naccessId=i") << false << untouched;
    QTest::newRow("lines in another order")
        << QByteArray("bucket=b\nhost=h\naccessId=i\naccessSecret=s") << false << untouched;
    QTest::newRow("no bucket key keeps the host") << QByteArray("host=h\nbuckets b\naccessId=i\naccessSecret=s")
                                                  << false << QStringList{"h", "old", "old", "old"};
    QTest::newRow("keys are case-sensitive")
        << QByteArray("host=h\nbucket=b\naccessid=i\naccessSecret=s") << false << QStringList{"h", "b", "old", "old"};
    QTest::newRow("no secret key") << QByteArray("host=h\nbucket=b\naccessId=i\nsecret=s") << false
                                   << QStringList{"h", "b", "i", "old"};
    QTest::newRow("blank lines between") << QByteArray("host=h\n\nbucket=b\naccessId=i\naccessSecret=s") << false
                                         << QStringList{"h", "old", "old", "old"};
}

void TestConfigFileParser::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, result);
    QFETCH(QStringList, fields);
    OssLoginInfo info{"old", "old", "old", "old"};
    QCOMPARE(ConfigFileParser().ParseOssLoginInfo(text.toStdString(), info), result);
    QCOMPARE((QStringList{QString::fromStdString(info.host), QString::fromStdString(info.bucket),
                          QString::fromStdString(info.accessId), QString::fromStdString(info.accessSecret)}),
             fields);
}

void TestConfigFileParser::textAfterZeroByteIsIgnored()
{
    static const char raw[] = "host=h\nbucket=b\naccessId=i\naccessSecret=s\0tail\nmore\nlines\nhere";
    const std::string text(raw, sizeof raw - 1);
    OssLoginInfo info;
    QVERIFY(ConfigFileParser().ParseOssLoginInfo(text, info));
    QCOMPARE(info.accessSecret, std::string("s"));

    // Cut before the fourth line: what follows the zero does not count.
    static const char rawCut[] = "host=h\nbucket=b\naccessId=i\0\naccessSecret=s";
    const std::string cut(rawCut, sizeof rawCut - 1);
    OssLoginInfo other;
    QVERIFY(!ConfigFileParser().ParseOssLoginInfo(cut, other));
}

void TestConfigFileParser::split_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QStringList>("pieces");
    QTest::newRow("empty text") << ""
                                << "\n"
                                << QStringList{};
    QTest::newRow("no delimiter") << "a"
                                  << "\n"
                                  << QStringList{"a"};
    QTest::newRow("empty middle piece") << "a\n\nb"
                                        << "\n"
                                        << QStringList{"a", "", "b"};
    QTest::newRow("delimiter at the end") << "a\nb\n"
                                          << "\n"
                                          << QStringList{"a", "b", ""};
    QTest::newRow("delimiter at the start") << "\na"
                                            << "\n"
                                            << QStringList{"", "a"};
    QTest::newRow("only the delimiter") << "\n"
                                        << "\n"
                                        << QStringList{"", ""};
    QTest::newRow("longer delimiter") << "a, b,, c"
                                      << ", " << QStringList{"a", "b,", "c"};
    // The search restarts after each cut, so overlaps resolve from the front.
    QTest::newRow("overlapping delimiter") << "aaa"
                                           << "aa" << QStringList{"", ""};
    QTest::newRow("empty delimiter") << "abc"
                                     << "" << QStringList{};
}

void TestConfigFileParser::split()
{
    QFETCH(QString, text);
    QFETCH(QString, delimiter);
    QFETCH(QStringList, pieces);
    std::vector<std::string> out{"stale"};
    ConfigFileParser().Stringsplit(text.toStdString(), delimiter.toStdString(), out);
    QCOMPARE(toList(out), pieces);
}

void TestConfigFileParser::splitWithCharacter()
{
    std::vector<std::string> out{"stale"};
    ConfigFileParser().Stringsplit(std::string("x;;y;"), ';', out);
    QCOMPARE(toList(out), (QStringList{"x", "", "y", ""}));
}

QTEST_GUILESS_MAIN(TestConfigFileParser)
#include "tst_ConfigFileParser.moc"
