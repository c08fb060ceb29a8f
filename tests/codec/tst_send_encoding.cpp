#include <QtTest>

#include <climits>

#include "codec/send_encoding.h"

using namespace varnok;
using namespace varnok::codec;

Q_DECLARE_METATYPE(varnok::codec::EndOfString)

namespace {

std::u16string u16(const QString& s) {
    return s.toStdU16String();
}

QByteArrayList toList(const std::vector<std::vector<std::uint8_t>>& writes) {
    QByteArrayList out;
    for (const auto& w : writes) {
        out.append(QByteArray(reinterpret_cast<const char*>(w.data()), qsizetype(w.size())));
    }
    return out;
}

QByteArrayList hexWrites(std::initializer_list<const char*> writes) {
    QByteArrayList out;
    for (const char* w : writes) {
        out.append(QByteArray::fromHex(w));
    }
    return out;
}

// "TypeMismatch", "Overflow", "" (none) or "other": which failure a send put aside.
QString deferredKind(const SendEncoding& e) {
    if (!e.deferredFailure) {
        return {};
    }
    try {
        std::rethrow_exception(e.deferredFailure);
    } catch (const TypeMismatch&) {
        return QStringLiteral("TypeMismatch");
    } catch (const Overflow&) {
        return QStringLiteral("Overflow");
    } catch (...) {
    }
    return QStringLiteral("other");
}

} // namespace

class TestSendEncoding : public QObject {
    Q_OBJECT
  private slots:
    void encode_data();
    void encode();
    void endOfStringCharacters();
    void defField_data();
    void defField();
    void defFailureFailsBeforeCounting_data();
    void defFailureFailsBeforeCounting();
    void unencodable_data();
    void unencodable();
    void latin1CharactersAreOneByteEach();
    void addToCounter_data();
    void addToCounter();
};

void TestSendEncoding::encode_data() {
    QTest::addColumn<bool>("ascii");
    QTest::addColumn<QString>("text");
    QTest::addColumn<EndOfString>("eos");
    QTest::addColumn<QString>("def");
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("counted");
    QTest::addColumn<QString>("deferred");

    using E = EndOfString;
    // The worked results of the send, row by row.
    QTest::newRow("ascii none") << true << "ABC" << E::None << "" << hexWrites({"414243"}) << 3 << 3
                                << "";
    QTest::newRow("ascii cr") << true << "ABC" << E::CR << "" << hexWrites({"4142430D"}) << 4 << 4
                              << "";
    QTest::newRow("ascii lf") << true << "ABC" << E::LF << "" << hexWrites({"4142430A"}) << 4 << 4
                              << "";
    QTest::newRow("ascii lfcr") << true << "ABC" << E::LFCR << "" << hexWrites({"4142430A0D"}) << 5
                                << 5 << "";
    QTest::newRow("ascii crlf") << true << "ABC" << E::CRLF << "" << hexWrites({"4142430D0A"}) << 5
                                << 5 << "";
    QTest::newRow("ascii def 1A") << true << "ABC" << E::Def << "1A" << hexWrites({"414243", "1A"})
                                  << 4 << 4 << "";
    QTest::newRow("ascii def 0D0A")
        << true << "ABC" << E::Def << "0D0A" << hexWrites({"414243", "0D0A"}) << 5 << 5 << "";
    QTest::newRow("ascii def empty")
        << true << "ABC" << E::Def << "" << hexWrites({"414243"}) << 3 << 3 << "";
    QTest::newRow("ascii empty cr")
        << true << "" << E::CR << "" << hexWrites({"0D"}) << 1 << 1 << "";
    QTest::newRow("binary none") << false << "01 03 00 00 00 01" << E::None << ""
                                 << hexWrites({"010300000001"}) << 6 << 17 << "";
    QTest::newRow("binary cr") << false << "01 03 00 00 00 01" << E::CR << ""
                               << hexWrites({"010300000001"}) << 7 << 18 << "";
    QTest::newRow("binary short tokens")
        << false << "1 3 0 0 0 1" << E::None << "" << hexWrites({"010300000001"}) << 4 << 11 << "";

    // Further cases around the table.
    QTest::newRow("ascii def ABC")
        << true << "ABC" << E::Def << "ABC" << hexWrites({"414243", "AB0C"}) << 5 << 5 << "";
    QTest::newRow("ascii empty none writes nothing")
        << true << "" << E::None << "" << QByteArrayList{} << 0 << 0 << "";
    QTest::newRow("ascii empty def only def bytes")
        << true << "" << E::Def << "1A" << hexWrites({"1A"}) << 1 << 1 << "";
    QTest::newRow("ascii line breaks sent as typed")
        << true << "a\r\nb" << E::LF << "" << hexWrites({"610D0A620A"}) << 5 << 5 << "";
    QTest::newRow("binary def counts def bytes, writes list only")
        << false << "01 02" << E::Def << "0D0A" << hexWrites({"0102"}) << 2 << 7 << "";
    QTest::newRow("binary no crc, multiple blanks")
        << false << "  1   3  a " << E::None << "" << hexWrites({"01030A"}) << 4 << 11 << "";
    QTest::newRow("binary overflow counts, writes nothing")
        << false << "0103" << E::None << "" << QByteArrayList{} << 4 << 4 << "Overflow";
    QTest::newRow("binary overflow with crlf")
        << false << "0103" << E::CRLF << "" << QByteArrayList{} << 6 << 6 << "Overflow";
    QTest::newRow("binary type mismatch counts, writes nothing")
        << false << "0G" << E::None << "" << QByteArrayList{} << 2 << 2 << "TypeMismatch";
    QTest::newRow("binary line break inside list")
        << false << "01\n02" << E::None << "" << QByteArrayList{} << 5 << 5 << "TypeMismatch";
    QTest::newRow("binary non-latin1 is a type mismatch")
        << false << QString::fromUtf8("01 €") << E::None << "" << QByteArrayList{} << 4 << 4
        << "TypeMismatch";
    QTest::newRow("binary blanks only")
        << false << "   " << E::CR << "" << QByteArrayList{} << 4 << 4 << "";
    QTest::newRow("binary empty") << false << "" << E::None << "" << QByteArrayList{} << 0 << 0
                                  << "";
    QTest::newRow("binary tab only is a token")
        << false << "\t" << E::None << "" << QByteArrayList{} << 1 << 1 << "TypeMismatch";
}

void TestSendEncoding::encode() {
    QFETCH(bool, ascii);
    QFETCH(QString, text);
    QFETCH(EndOfString, eos);
    QFETCH(QString, def);
    QFETCH(QByteArrayList, writes);
    QFETCH(int, shown);
    QFETCH(int, counted);
    QFETCH(QString, deferred);

    const SendEncoding e = encodeSend(ascii, u16(text), eos, u16(def));
    QCOMPARE(toList(e.writes), writes);
    QCOMPARE(e.shownCount, shown);
    QCOMPARE(e.countedLength, counted);
    QCOMPARE(deferredKind(e), deferred);
    QCOMPARE(QString::fromStdU16String(e.sendData),
             text + QString::fromStdU16String(std::u16string(endOfStringChars(eos))));
}

void TestSendEncoding::endOfStringCharacters() {
    QCOMPARE(endOfStringChars(EndOfString::None), std::u16string_view());
    QCOMPARE(endOfStringChars(EndOfString::CR), std::u16string_view(u"\r"));
    QCOMPARE(endOfStringChars(EndOfString::LF), std::u16string_view(u"\n"));
    QCOMPARE(endOfStringChars(EndOfString::LFCR), std::u16string_view(u"\n\r"));
    QCOMPARE(endOfStringChars(EndOfString::CRLF), std::u16string_view(u"\r\n"));
    QCOMPARE(endOfStringChars(EndOfString::Def), std::u16string_view());
}

void TestSendEncoding::defField_data() {
    QTest::addColumn<QString>("def");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("1A") << "1A" << false << QByteArray::fromHex("1A");
    QTest::newRow("0D0A") << "0D0A" << false << QByteArray::fromHex("0D0A");
    QTest::newRow("ABC odd") << "ABC" << false << QByteArray::fromHex("AB0C");
    QTest::newRow("lower case") << "0d0a" << false << QByteArray::fromHex("0D0A");
    QTest::newRow("single digit") << "F" << false << QByteArray::fromHex("0F");
    QTest::newRow("empty") << "" << false << QByteArray();
    QTest::newRow("blank inside") << "1A 0D" << true << QByteArray();
    QTest::newRow("blank only") << " " << true << QByteArray();
    QTest::newRow("trailing blank pair") << "1A0 " << true << QByteArray();
    QTest::newRow("odd last not hex") << "1AG" << true << QByteArray();
    QTest::newRow("prefix 0x") << "0x1A" << true << QByteArray();
    QTest::newRow("fullwidth digit") << QString::fromUtf8("１A") << true << QByteArray();
}

void TestSendEncoding::defField() {
    QFETCH(QString, def);
    QFETCH(bool, fails);
    QFETCH(QByteArray, bytes);

    if (fails) {
        QVERIFY_THROWS_EXCEPTION(DefFieldFailure, decodeDefField(u16(def)));
        return;
    }
    const auto got = decodeDefField(u16(def));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.data()), qsizetype(got.size())), bytes);
}

void TestSendEncoding::defFailureFailsBeforeCounting_data() {
    QTest::addColumn<bool>("ascii");
    QTest::newRow("ascii") << true;
    QTest::newRow("binary") << false;
}

void TestSendEncoding::defFailureFailsBeforeCounting() {
    QFETCH(bool, ascii);
    // Thrown (not deferred): nothing counts and nothing is written, in either mode.
    try {
        encodeSend(ascii, u"01 02", EndOfString::Def, u"1A 0D");
        QFAIL("no failure");
    } catch (const DefFieldFailure& f) {
        QCOMPARE(QString::fromStdString(f.description()),
                 QStringLiteral("Don't use space in \"Def\" field !!"));
    }
}

void TestSendEncoding::unencodable_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("codePoint");
    QTest::addColumn<QString>("description");

    QTest::newRow("euro") << QString::fromUtf8("A€B") << 0x20ACu
                          << QString::fromUtf8("Character \"€\" (U+20AC) cannot be sent: only "
                                               "Latin-1 characters (U+0000 to U+00FF) can.");
    QTest::newRow("cjk") << QString::fromUtf8("中") << 0x4E2Du
                         << QString::fromUtf8("Character \"中\" (U+4E2D) cannot be sent: only "
                                              "Latin-1 characters (U+0000 to U+00FF) can.");
    QTest::newRow("first of many") << QString::fromUtf8("éŁ€") << 0x0141u
                                   << QString::fromUtf8("Character \"Ł\" (U+0141) cannot be sent: "
                                                        "only Latin-1 characters (U+0000 to "
                                                        "U+00FF) can.");
    QTest::newRow("surrogate pair") << QString::fromUtf8("x😀") << 0x1F600u
                                    << QString::fromUtf8("Character \"😀\" (U+1F600) cannot be "
                                                         "sent: only Latin-1 characters (U+0000 "
                                                         "to U+00FF) can.");
}

void TestSendEncoding::unencodable() {
    QFETCH(QString, text);
    QFETCH(uint, codePoint);
    QFETCH(QString, description);

    try {
        encodeSend(true, u16(text), EndOfString::CRLF, u"");
        QFAIL("no failure");
    } catch (const UnencodableCharacter& f) {
        QCOMPARE(uint(f.character()), codePoint);
        QCOMPARE(QString::fromUtf8(f.description()), description);
        QCOMPARE(QString::fromUtf8(f.what()), description);
    }
}

void TestSendEncoding::latin1CharactersAreOneByteEach() {
    std::u16string text;
    for (char16_t c = 0; c <= 0xFF; ++c) {
        text.push_back(c);
    }
    const SendEncoding e = encodeSend(true, text, EndOfString::None, u"");
    QCOMPARE(e.writes.size(), std::size_t(1));
    QCOMPARE(e.writes[0].size(), std::size_t(256));
    for (int i = 0; i < 256; ++i) {
        QCOMPARE(int(e.writes[0][std::size_t(i)]), i);
    }
    QCOMPARE(e.countedLength, 256);
}

void TestSendEncoding::addToCounter_data() {
    QTest::addColumn<QString>("counter");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("result");

    QTest::newRow("zero") << "0" << 5 << 5;
    QTest::newRow("normal") << "17" << 4 << 21;
    QTest::newRow("blanks around") << "  12 " << 3 << 15;
    QTest::newRow("tab around") << "\t12\t" << 3 << 15;
    QTest::newRow("plus sign") << "+7" << 1 << 8;
    QTest::newRow("negative") << "-10" << 3 << -7;
    QTest::newRow("int32 min") << "-2147483648" << 0 << INT_MIN;
    QTest::newRow("sum at max") << "2147483646" << 1 << INT_MAX;
    QTest::newRow("sum past max restarts") << "2147483647" << 1 << 1;
    QTest::newRow("text past 32 bits restarts") << "99999999999" << 2 << 2;
    QTest::newRow("very long digits restart") << QString(400, QChar('9')) << 2 << 2;
    QTest::newRow("letters") << "abc" << 5 << 5;
    QTest::newRow("empty") << "" << 5 << 5;
    QTest::newRow("blank only") << "   " << 5 << 5;
    QTest::newRow("decimal point") << "12.5" << 3 << 3;
    QTest::newRow("blank inside") << "1 2" << 1 << 1;
    QTest::newRow("sign alone") << "-" << 4 << 4;
    QTest::newRow("trailing letter") << "12a" << 4 << 4;
    QTest::newRow("fullwidth digits") << QString::fromUtf8("１２") << 4 << 4;
}

void TestSendEncoding::addToCounter() {
    QFETCH(QString, counter);
    QFETCH(int, count);
    QFETCH(int, result);
    QCOMPARE(codec::addToCounter(u16(counter), count), result);
}

QTEST_APPLESS_MAIN(TestSendEncoding)
#include "tst_send_encoding.moc"
