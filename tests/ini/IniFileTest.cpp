#include <gtest/gtest.h>

#include <QUrl>
#include <functional>

#include "ini/IniReader.h"
#include "tests/ini/IniTestSupport.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Written by hand rather than with Qt's encoders, so the reader is not checked against itself.
QByteArray encodeUnits(const QString& text, int width, bool bigEndian) {
  QByteArray bytes;
  const auto put = [&](char32_t unit) {
    for (int i = 0; i < width; ++i) {
      const int shift = 8 * (bigEndian ? width - 1 - i : i);
      bytes += char((unit >> shift) & 0xFF);
    }
  };
  if (width == 2) {
    for (const QChar c : text) put(c.unicode());
  } else {
    for (const char32_t c : text.toUcs4()) put(c);
  }
  return bytes;
}

const QString makeInfoText =
    u"; build information\r\n[Ureg_Info]\r\nSR_No=AB12-3456\r\nProd_Name=BrindleCutter\r\n"
    u"DisplayProd_Name=Größe 𝐀 Studio\r\nProd_Ver=21.0\r\nRegVType=Retail\r\n"_s;

Config makeInfoDocument() {
  return Config{{Section{u"Ureg_Info"_s,
                         {{u"SR_No"_s, u"AB12-3456"_s},
                          {u"Prod_Name"_s, u"BrindleCutter"_s},
                          {u"DisplayProd_Name"_s, u"Größe 𝐀 Studio"_s},
                          {u"Prod_Ver"_s, u"21.0"_s},
                          {u"RegVType"_s, u"Retail"_s}}}}};
}

struct EncodingCase {
  const char* name;
  std::function<QByteArray(const QString&)> encode;
};

void PrintTo(const EncodingCase& c, std::ostream* out) {
  *out << c.name;
}

class IniFileEncodingTest : public IniSandbox, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(IniFileEncodingTest, ReadsTheSameDocument) {
  const QString file = writeFile(u"MakeInfo.ini"_s, GetParam().encode(makeInfoText));
  EXPECT_EQ(parseINIFile(file), makeInfoDocument());
  EXPECT_EQ(parseINI(QUrl::fromLocalFile(file)), makeInfoDocument());
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, IniFileEncodingTest,
    ::testing::Values(
        EncodingCase{"Utf8", [](const QString& t) { return t.toUtf8(); }},
        EncodingCase{"Utf8WithMark", [](const QString& t) { return "\xEF\xBB\xBF" + t.toUtf8(); }},
        EncodingCase{"Utf16LittleEndian",
                     [](const QString& t) { return QByteArray("\xFF\xFE") + encodeUnits(t, 2, false); }},
        EncodingCase{"Utf16BigEndian",
                     [](const QString& t) { return QByteArray("\xFE\xFF") + encodeUnits(t, 2, true); }},
        EncodingCase{
            "Utf32LittleEndian",
            [](const QString& t) { return QByteArray("\xFF\xFE\0\0", 4) + encodeUnits(t, 4, false); }},
        EncodingCase{
            "Utf32BigEndian",
            [](const QString& t) { return QByteArray("\0\0\xFE\xFF", 4) + encodeUnits(t, 4, true); }}),
    [](const ::testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.name); });

struct InvalidCase {
  const char* name;
  QByteArray bytes;
};

void PrintTo(const InvalidCase& c, std::ostream* out) {
  *out << c.name;
}

class IniFileInvalidTextTest : public IniSandbox, public ::testing::WithParamInterface<InvalidCase> {};

TEST_P(IniFileInvalidTextTest, FailsWithAReadError) {
  const QString file = writeFile(u"bad.ini"_s, GetParam().bytes);
  try {
    const Config config = parseINIFile(file);
    ADD_FAILURE() << "read as " << ::testing::PrintToString(config);
  } catch (const IniReadError& error) {
    EXPECT_EQ(error.path, file);
    EXPECT_FALSE(error.reason.isEmpty());
  }
}

QByteArray bytes(std::initializer_list<unsigned char> list) {
  return QByteArray(reinterpret_cast<const char*>(std::data(list)), qsizetype(list.size()));
}

INSTANTIATE_TEST_SUITE_P(
    NotText, IniFileInvalidTextTest,
    ::testing::Values(InvalidCase{"Latin1", QByteArray("[A]\nk=Gr\xF6\xDF"
                                                       "e\n")},
                      InvalidCase{"OverlongUtf8", QByteArray("[A]\nk=\xC0\x80\n")},
                      InvalidCase{"Utf8EncodedSurrogate", QByteArray("[A]\nk=\xED\xA0\x80\n")},
                      InvalidCase{"Utf8CutAtTheEnd", QByteArray("[A]\nk=\xE2\x82")},
                      InvalidCase{"Utf8BeyondUnicode", QByteArray("[A]\nk=\xF4\x90\x80\x80")},
                      InvalidCase{"Utf16OddLength", bytes({0xFF, 0xFE, '[', 0, 'A', 0, ']'})},
                      InvalidCase{"Utf16LoneHighAtTheEnd", bytes({0xFF, 0xFE, 'k', 0, 0x00, 0xD8})},
                      InvalidCase{"Utf16LoneLow", bytes({0xFE, 0xFF, 0xDC, 0x00, 0, 'k'})},
                      InvalidCase{"Utf16HighThenHigh",
                                  bytes({0xFF, 0xFE, 0x00, 0xD8, 0x00, 0xD8, 0x00, 0xDC})},
                      InvalidCase{"Utf32LengthNotAMultipleOfFour", bytes({0xFF, 0xFE, 0, 0, 'k', 0, 0})},
                      InvalidCase{"Utf32BeyondUnicode", bytes({0, 0, 0xFE, 0xFF, 0, 0x11, 0, 0})},
                      InvalidCase{"Utf32Surrogate", bytes({0xFF, 0xFE, 0, 0, 0x00, 0xD8, 0, 0})}),
    [](const ::testing::TestParamInfo<InvalidCase>& info) { return std::string(info.param.name); });

using IniFileTest = IniSandbox;

TEST_F(IniFileTest, UnreadableFilesFailWithTheSystemsReason) {
  for (const QString& file : {path(u"missing.ini"_s), folderPath()}) {
    try {
      parseINIFile(file);
      ADD_FAILURE() << "read " << file.toStdString();
    } catch (const IniReadError& error) {
      EXPECT_EQ(error.path, file);
      EXPECT_FALSE(error.reason.isEmpty());
      EXPECT_NE(std::string(error.what()).find(file.toStdString()), std::string::npos);
    }
  }
}

TEST_F(IniFileTest, OnlyLocalFileUrlsAreRead) {
  EXPECT_THROW(parseINI(QUrl(u"https://download.example/MakeInfo.ini"_s)), IniReadError);
  EXPECT_THROW(parseINI(QUrl::fromLocalFile(path(u"missing.ini"_s))), IniReadError);
}

TEST_F(IniFileTest, ParseErrorsComeThroughUnchanged) {
  const QString file = writeFile(u"broken.ini"_s, "\xEF\xBB\xBF[Ureg_Info]\r\n  #SR_No=1\r\n");
  try {
    parseINIFile(file);
    ADD_FAILURE() << "read without error";
  } catch (const ParseError& error) {
    EXPECT_EQ(error.kind, ParseError::Kind::unsupportedToken);
    EXPECT_EQ(error.row, 2);
    EXPECT_EQ(error.pos, 3);
  }
}

TEST_F(IniFileTest, MarksAreDroppedOnceAndNulIsText) {
  const QString file = writeFile(u"marks.ini"_s, QByteArray("\xEF\xBB\xBF[A]\nk=\xEF\xBB\xBFv\0w", 15));
  EXPECT_EQ(parseINIFile(file), (Config{{Section{u"A"_s, {{u"k"_s, u"\uFEFFv"_s + QChar(0) + u"w"_s}}}}}));
}

}  // namespace
