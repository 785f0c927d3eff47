#include "core/suplfunc.h"
#include "comm/checksum.h"
#include "comm/code_page.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {
uint16_t ChecksumOf(const char* text) {
  return FrameChecksum(reinterpret_cast<const uint8_t*>(text),
                       static_cast<uint32_t>(std::strlen(text)));
}
}  // namespace

TEST(FrameChecksum, MatchesTheKnownCheckValues) {
  EXPECT_EQ(ChecksumOf("123456789"), 0x4B37);
  EXPECT_EQ(ChecksumOf("abc"), 0x5749);
  EXPECT_EQ(FrameChecksum(nullptr, 0), 0xFFFF);
}

TEST(FrameChecksum, AFrameFollowedByItsChecksumLowByteFirstChecksToZero) {
  std::vector<uint8_t> frame = {0xAA, 0x01, 0x06, 0x01};
  const uint16_t crc = FrameChecksum(frame.data(), 4);
  EXPECT_EQ(crc, 0x5CB2);  // sent as B2 5C
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  EXPECT_EQ(FrameChecksum(frame.data(), 6), 0);
  frame[2] ^= 0x01;
  EXPECT_NE(FrameChecksum(frame.data(), 6), 0);
}

TEST(FrameChecksum, ModbusReadRequestExample) {
  const uint8_t request[] = {0x01, 0x03, 0x00, 0x3B, 0x00, 0x01};
  EXPECT_EQ(FrameChecksum(request, 6), 0xC7F5);  // on the wire F5 C7
}

TEST(BaudRates, LookUpsByRateAndByListPosition) {
  EXPECT_EQ(RateIndex(1200), 0);
  EXPECT_EQ(RateIndex(19200), 4);
  EXPECT_EQ(RateIndex(115200), 7);
  EXPECT_EQ(RateIndex(14400), -1);
  EXPECT_EQ(RateIndex(0), -1);
  EXPECT_EQ(RateByIndex(0), 1200);
  EXPECT_EQ(RateByIndex(7), 115200);
  EXPECT_EQ(RateByIndex(8), 0);
  EXPECT_EQ(RateByIndex(-1), 0);
  for (int32_t i = 0; i < 8; ++i) {
    EXPECT_EQ(RateIndex(RateByIndex(i)), i);
  }
}

namespace {
std::string To866(std::string text) {
  Cp1251ToCp866(text.data(), static_cast<uint8_t>(text.size()));
  return text;
}
}  // namespace

TEST(Cp1251ToCp866, CyrillicLettersMoveToTheirDosPositions) {
  EXPECT_EQ(To866(Utf8ToCp1251("Тиск")), "\x92\xA8\xE1\xAA");
  EXPECT_EQ(To866("\xC0\xDF\xE0\xEF\xF0\xFF"), "\x80\x9F\xA0\xAF\xE0\xEF");  // А Я а п р я
  EXPECT_EQ(To866(Utf8ToCp1251("ЁёЄєЇїЎў")), "\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7");
}

TEST(Cp1251ToCp866, UkrainianIBecomesLatinAndGheWithUpturnBecomesUnderscore) {
  EXPECT_EQ(To866(Utf8ToCp1251("іІ")), "iI");
  EXPECT_EQ(To866(Utf8ToCp1251("ґҐ")), "__");
}

TEST(Cp1251ToCp866, AsciiStaysAndSignsFollowTheTable) {
  EXPECT_EQ(To866("Pass 123 ~"), "Pass 123 ~");
  EXPECT_EQ(To866("\x95\xA4\xA6\xA7\xA9\xAB\xAC\xAD\xAE\xB0\xB6\xB7\xB9\xBB"),
            "\xF9\xFD|\x15"
            "c\x11--r\xF8\x14\xFA\xFC\x10");
  // Everything of 0x80..0xBF the table does not name is an underscore.
  for (const char c : std::string("\x80\x88\x98\xA0\xA3\xA5\xB1\xB4\xB5\xBC\xBE")) {
    EXPECT_EQ(To866(std::string(1, c)), "_") << std::hex << (static_cast<int>(c) & 0xFF);
  }
}

TEST(Cp1251ToCp866, ConvertsOnlyTheGivenLength) {
  std::string text = "\xC0\xC0\xC0";
  Cp1251ToCp866(text.data(), 2);
  EXPECT_EQ(text, "\x80\x80\xC0");
  Cp1251ToCp866(text.data(), 0);
  EXPECT_EQ(text, "\x80\x80\xC0");
}

TEST(Utf8ToCp1251, MapsTheWholeCodePageAndMarksWhatItCannotHold) {
  EXPECT_EQ(Utf8ToCp1251("Пароль1"),
            "\xCF\xE0\xF0\xEE\xEB\xFC"
            "1");
  EXPECT_EQ(Utf8ToCp1251("€№—«»°"), "\x88\xB9\x97\xAB\xBB\xB0");
  EXPECT_EQ(Utf8ToCp1251("a\xE2\x82"), "a??");     // cut short
  EXPECT_EQ(Utf8ToCp1251("\xC0\xAF"), "??");       // overlong '/'
  EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "???");  // a surrogate
  EXPECT_EQ(Utf8ToCp1251("\x80z"), "?z");          // stray continuation byte
  EXPECT_EQ(Utf8ToCp1251("中😀é"), "???");          // no cp1251 byte
  EXPECT_EQ(Utf8ToCp1251(std::string_view("\0x", 2)), std::string("\0x", 2));
}

namespace {
bool BadFloatAt(uint32_t bits, size_t offset) {
  alignas(8) unsigned char buffer[16] = {};
  std::memcpy(buffer + offset, &bits, sizeof bits);
  return IsBadFloat(buffer + offset);
}
}  // namespace

TEST(IsBadFloat, OnlyAllOnesExponentsAreBadAtAnyAlignment) {
  for (size_t offset : {0u, 1u, 2u, 3u}) {
    EXPECT_TRUE(BadFloatAt(0x7F800000u, offset));   // +inf
    EXPECT_TRUE(BadFloatAt(0xFF800000u, offset));   // -inf
    EXPECT_TRUE(BadFloatAt(0x7FC00000u, offset));   // quiet NaN
    EXPECT_TRUE(BadFloatAt(0x7F800001u, offset));   // signalling NaN
    EXPECT_TRUE(BadFloatAt(0xFFFFFFFFu, offset));   // negative NaN, all ones
    EXPECT_FALSE(BadFloatAt(0x7F7FFFFFu, offset));  // largest finite
    EXPECT_FALSE(BadFloatAt(0xFF7FFFFFu, offset));
    EXPECT_FALSE(BadFloatAt(0x00000000u, offset));  // +0
    EXPECT_FALSE(BadFloatAt(0x80000000u, offset));  // -0
    EXPECT_FALSE(BadFloatAt(0x00000001u, offset));  // smallest subnormal
    EXPECT_FALSE(BadFloatAt(0x3F800000u, offset));  // 1.0
  }
}

TEST(IntKeyFilter, PassesDigitsAndEditingKeysOnly) {
  for (char16_t key = u'0'; key <= u'9'; ++key) {
    EXPECT_EQ(IntKeyFilter(key), key);
  }
  EXPECT_EQ(IntKeyFilter(8), 8);
  EXPECT_EQ(IntKeyFilter(u'%'), u'%');
  EXPECT_EQ(IntKeyFilter(u'\''), u'\'');
  for (char16_t key : {u'-', u'.', u'a', u' ', u'+', u'e', u',', u'\u0660', u'З'}) {
    EXPECT_EQ(IntKeyFilter(key), 0) << static_cast<int>(key);
  }
}

namespace {
char16_t Float(std::u16string_view text, int caret, char16_t key) {
  return FloatKeyFilter(text, caret, key);
}
constexpr int kEnd = 1000;  // clamped to the text's end
}  // namespace

TEST(FloatKeyFilter, EmptyField) {
  EXPECT_EQ(Float(u"", 0, u'-'), u'-');
  EXPECT_EQ(Float(u"", 0, u'e'), 0);
  EXPECT_EQ(Float(u"", 0, u'+'), 0);
  EXPECT_EQ(Float(u"", 0, u','), u'.');
  EXPECT_EQ(Float(u"", 0, u'.'), u'.');
  EXPECT_EQ(Float(u"", 0, u'7'), u'7');
  EXPECT_EQ(Float(u"", 0, 8), 8);
  EXPECT_EQ(Float(u"", 0, u'%'), u'%');
  EXPECT_EQ(Float(u"", 0, u'\''), u'\'');
  EXPECT_EQ(Float(u"", 0, u'x'), 0);
  EXPECT_EQ(Float(u"", 0, u' '), 0);
}

TEST(FloatKeyFilter, MantissaWithSeparator) {
  EXPECT_EQ(Float(u"1.5", 3, u'.'), 0);
  EXPECT_EQ(Float(u"1.5", 3, u','), 0);
  EXPECT_EQ(Float(u"1.5", 3, u'e'), u'e');
  EXPECT_EQ(Float(u"1.5", 3, u'E'), 0);
  EXPECT_EQ(Float(u"1.5", 1, u'e'), 0);  // only at the end
  EXPECT_EQ(Float(u"15", 1, u','), u'.');
  EXPECT_EQ(Float(u"1.5", 3, u'-'), 0);
  EXPECT_EQ(Float(u"1.5", 3, u'+'), 0);
}

TEST(FloatKeyFilter, ExponentTakesASignAndAtMostTwoDigits) {
  EXPECT_EQ(Float(u"1e", 2, u'-'), u'-');
  EXPECT_EQ(Float(u"1e", 2, u'+'), u'+');
  EXPECT_EQ(Float(u"1e", 2, u'5'), u'5');
  EXPECT_EQ(Float(u"1e", 2, u'e'), 0);
  EXPECT_EQ(Float(u"1e5", 3, u'5'), u'5');
  EXPECT_EQ(Float(u"1e-5", 4, u'5'), u'5');
  EXPECT_EQ(Float(u"1e+5", 4, u'5'), u'5');
  EXPECT_EQ(Float(u"1e-55", 5, u'1'), 0);
  EXPECT_EQ(Float(u"1e+55", 5, u'1'), 0);
  EXPECT_EQ(Float(u"1e55", 4, u'1'), 0);
  EXPECT_EQ(Float(u"1e-", 3, u'-'), 0);  // one sign only
  EXPECT_EQ(Float(u"1e-", 2, u'+'), 0);
  EXPECT_EQ(Float(u"1e5", 3, u'.'), 0);     // no separator in the exponent
  EXPECT_EQ(Float(u"1e5", 2, u'.'), 0);     // caret right after the 'e'
  EXPECT_EQ(Float(u"1e5", 1, u'.'), u'.');  // before the 'e': still the mantissa
  EXPECT_EQ(Float(u"-1e", 3, u'-'), u'-');  // the leading minus does not count
}

TEST(FloatKeyFilter, DigitsGoIntoTheMantissaWhateverTheExponent) {
  EXPECT_EQ(Float(u"12e5", 1, u'3'), u'3');
  EXPECT_EQ(Float(u"12e55", 2, u'3'), u'3');  // caret right before the 'e'
  EXPECT_EQ(Float(u"12e55", 0, u'3'), u'3');
}

TEST(FloatKeyFilter, LeadingMinusOnlyOnce) {
  EXPECT_EQ(Float(u"-5", 0, u'-'), 0);
  EXPECT_EQ(Float(u"5", 0, u'-'), u'-');
  EXPECT_EQ(Float(u"5", 1, u'-'), 0);
  EXPECT_EQ(Float(u"5", 0, u'+'), 0);
}

TEST(FloatKeyFilter, LooksAtTheWholeTextAndToleratesAnyCaret) {
  std::u16string long_text(5000, u'1');
  EXPECT_EQ(Float(long_text, static_cast<int>(long_text.size()), u'e'), u'e');
  EXPECT_EQ(Float(long_text, 4999, u'e'), 0);
  long_text += u".";
  EXPECT_EQ(Float(long_text, 0, u'.'), 0);
  EXPECT_EQ(Float(u"1.5", -3, u'-'), u'-');  // a negative caret counts as the start
  EXPECT_EQ(Float(u"1.5", kEnd, u'e'), u'e');
}
