// Reading INI files: the encodings a byte-order mark selects, bytes that are
// not text, and files that cannot be read at all.

#include <gtest/gtest.h>

#include <QUrl>

#include "ini/IniReader.h"
#include "ini/TextFile.h"
#include "tests/ini/IniTestSupport.h"
#include "tests/support/Rows.h"
#include "tests/support/SandboxedTest.h"

using namespace Qt::Literals::StringLiterals;

namespace ov::test {
namespace {

using test::PrintTo;

// Written by hand rather than with Qt's encoders, so the reader is not checked against itself.
QByteArray encodeUnits(const QByteArray& mark, const QString& text, int width, bool bigEndian) {
  QByteArray bytes = mark;
  for (const uint unit : width == 2 ? QList<uint>(text.utf16(), text.utf16() + text.size()) : text.toUcs4())
    for (int i = 0; i < width; ++i) bytes += char((unit >> (8 * (bigEndian ? width - 1 - i : i))) & 0xFF);
  return bytes;
}

QByteArray bytes(std::initializer_list<unsigned char> list) {
  return QByteArray(reinterpret_cast<const char*>(std::data(list)), qsizetype(list.size()));
}

const QString kMakeInfo =
    u"; build information\r\n[Ureg_Info]\r\nSR_No=AB12-3456\r\nProd_Name=BrindleCutter\r\n"
    u"DisplayProd_Name=Größe 𝐀 Studio\r\nProd_Ver=21.0\r\nRegVType=Retail\r\n"_s;
const QString kMakeInfoRead =
    u"[Ureg_Info]DisplayProd_Name=Größe 𝐀 Studio;Prod_Name=BrindleCutter;Prod_Ver=21.0;RegVType=Retail;"
    u"SR_No=AB12-3456;"_s;
const QString kNotText = u"not text"_s;

struct FileCase {
  const char* name;
  QByteArray bytes;
  QString outcome;                    // see outcome(); kNotText when the file cannot be read as text
  const char* path = "MakeInfo.ini";  // what is read, below the sandbox's home; the bytes go there
};

class IniFile : public ov::test::SandboxedTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(IniFile, ReadsTheDocumentOrRefusesWhatIsNoText) {
  sandbox_->writeFile(u"MakeInfo.ini"_s, GetParam().bytes);
  const QString file = sandbox_->path(QString::fromUtf8(GetParam().path));
  QString result;
  try {
    result = outcome([&] { return parseINI(QUrl::fromLocalFile(file)); });
  } catch (const IniReadError& error) {
    EXPECT_EQ(error.path, file);
    EXPECT_FALSE(error.reason.isEmpty());
    EXPECT_NE(std::string(error.what()).find(file.toStdString()), std::string::npos) << error.what();
    result = kNotText;
  }
  EXPECT_EQ(result, GetParam().outcome);
}

const std::vector<FileCase> kFiles = {
    {"Utf8", kMakeInfo.toUtf8(), kMakeInfoRead},
    {"Utf8WithMark", "\xEF\xBB\xBF" + kMakeInfo.toUtf8(), kMakeInfoRead},
    {"Utf16LittleEndian", encodeUnits("\xFF\xFE", kMakeInfo, 2, false), kMakeInfoRead},
    {"Utf16BigEndian", encodeUnits("\xFE\xFF", kMakeInfo, 2, true), kMakeInfoRead},
    {"Utf32LittleEndian", encodeUnits(QByteArray("\xFF\xFE\0\0", 4), kMakeInfo, 4, false), kMakeInfoRead},
    {"Utf32BigEndian", encodeUnits(QByteArray("\0\0\xFE\xFF", 4), kMakeInfo, 4, true), kMakeInfoRead},
    {"OnlyTheMark", "\xEF\xBB\xBF", u""_s},
    {"ParseErrorAfterTheMark", "\xEF\xBB\xBF[Ureg_Info]\r\n  #SR_No=1\r\n",
     u"Unsupported token at row 2, position 3"_s},
    {"OnlyTheFirstMarkIsDroppedAndNulIsText", QByteArray("\xEF\xBB\xBF[A]\nk=\xEF\xBB\xBFv\0w", 15),
     u"[A]k=\uFEFFv"_s + QChar(0) + u"w;"_s},
    {"Latin1", "[A]\nk=Gr\xF6\xDF!\n", kNotText},
    {"OverlongUtf8", "[A]\nk=\xC0\x80\n", kNotText},
    {"Utf8EncodedSurrogate", "[A]\nk=\xED\xA0\x80\n", kNotText},
    {"Utf8CutAtTheEnd", "[A]\nk=\xE2\x82", kNotText},
    {"Utf8BeyondUnicode", "[A]\nk=\xF4\x90\x80\x80", kNotText},
    {"Utf16OddLength", bytes({0xFF, 0xFE, '[', 0, 'A', 0, ']'}), kNotText},
    {"Utf16LoneHighAtTheEnd", bytes({0xFF, 0xFE, 'k', 0, 0x00, 0xD8}), kNotText},
    {"Utf16LoneLow", bytes({0xFE, 0xFF, 0xDC, 0x00, 0, 'k'}), kNotText},
    {"Utf16HighThenHigh", bytes({0xFF, 0xFE, 0x00, 0xD8, 0x00, 0xD8, 0x00, 0xDC}), kNotText},
    {"Utf32LengthNotAMultipleOfFour", bytes({0xFF, 0xFE, 0, 0, 'k', 0, 0}), kNotText},
    {"Utf32BeyondUnicode", bytes({0, 0, 0xFE, 0xFF, 0, 0x11, 0, 0}), kNotText},
    {"Utf32Surrogate", bytes({0xFF, 0xFE, 0, 0, 0x00, 0xD8, 0, 0}), kNotText},
    {"MissingFile", {}, kNotText, "missing.ini"},
    {"Folder", {}, kNotText, ""},
};

INSTANTIATE_TEST_SUITE_P(Bytes, IniFile, ::testing::ValuesIn(kFiles), rowName);

TEST(IniFileTest, OnlyLocalFileUrlsAreRead) {
  EXPECT_THROW(parseINI(QUrl(u"https://download.example/MakeInfo.ini"_s)), IniReadError);
}

}  // namespace
}  // namespace ov::test
