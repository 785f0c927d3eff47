#include <gtest/gtest.h>

#include <string>

#include "comm/calcbox.h"

namespace {

// The text a refusal with these error bytes turns into.
std::string Decode(int code, int pipeline, int detail) {
  calcbox box(1);
  box.reply[4] = static_cast<uint8_t>(code);
  box.reply[5] = static_cast<uint8_t>(pipeline);
  box.reply[6] = static_cast<uint8_t>(detail);
  box.error_code = 12;
  box.BuildErrorText();
  return box.ErrorText();
}

TEST(CorrectorErrors, FormatsTakeTheirArguments) {
  EXPECT_EQ(Decode(5, 0, 0), "Номер трубопроводу не вiдповiдає обмеженням");
  EXPECT_EQ(Decode(46, 1, 0), "Дiаметр трубопроводу 2 менше 50 мм");
  EXPECT_EQ(Decode(12, 0, 3), "Коротка адреса ЦП (3) на т/п 1 не вiдповiдає обмеженням");
  EXPECT_EQ(Decode(62, 2, 15),
            "Обчислювач не отримав довгу адресу вiд цифрового перетворювача 15 на т/п 3");
  EXPECT_EQ(Decode(54, 7, 0), "Множник на дiлянцi 1 НСХП менше або дорівнює 0");
  EXPECT_EQ(Decode(118, 2, 1), "Пауза перед HART запитом 2 на т/п 3 не відповідає обмеженням.");
  EXPECT_EQ(Decode(115, 200, 0), "Помилка 200 при виконанні команди другим процесором.");
  EXPECT_EQ(Decode(182, 255, 0), "Компонентний склад газу в т/п 256 не відповідає обмеженням");
  EXPECT_EQ(Decode(183, 0, 0), "Не виконана параметризація Обчислювача");
  // No argument, and none wanted, even though the code names a pipeline.
  EXPECT_EQ(Decode(150, 4, 0), "Керування подачею одоранту в т/п з лічильником не виконується");
}

TEST(CorrectorErrors, StartBytesAreShownInHexadecimal) {
  EXPECT_EQ(Decode(66, 0x86, 0),
            "Неправильний стартовий байт (86h) запиту до ЦП (див. HART протокол)");
  EXPECT_EQ(Decode(66, 0x05, 0),
            "Неправильний стартовий байт (05h) запиту до ЦП (див. HART протокол)");
  // The space flag has no effect on an unsigned conversion.
  EXPECT_EQ(Decode(67, 0x86, 0),
            "Неправильний стартовий байт (86h) відповіді від ЦП (див. HART протокол)");
}

TEST(CorrectorErrors, NamesComeFromTheTablesWithFallbacks) {
  EXPECT_EQ(Decode(155, 0, 2), "Молярна частка Пропан в суміші для т/п 1 не відповідає обмеженням");
  EXPECT_EQ(Decode(155, 1, 7),
            "Молярна частка Сероводород в суміші для т/п 2 не відповідає обмеженням");
  EXPECT_EQ(Decode(155, 0, 8),
            "Молярна частка компонента ? в суміші для т/п 1 не відповідає обмеженням");
  EXPECT_EQ(Decode(155, 0, 9),
            "Молярна частка компонента ? в суміші для т/п 1 не відповідає обмеженням");
  EXPECT_EQ(Decode(157, 0, 3), "Межі вимірювань De на т/п 1 не відповідає обмеженням");
  EXPECT_EQ(Decode(157, 0, 4), "Межі вимірювань параметра ? на т/п 1 не відповідає обмеженням");
  EXPECT_EQ(Decode(157, 2, 10), "Межі вимірювань параметра ? на т/п 3 не відповідає обмеженням");
}

TEST(CorrectorErrors, UnknownCodesNameThemselves) {
  EXPECT_EQ(Decode(0, 0, 0), "Невідомий код помилки у відповіді по BB (0)");
  EXPECT_EQ(Decode(184, 0, 0), "Невідомий код помилки у відповіді по BB (184)");
  EXPECT_EQ(Decode(200, 3, 3), "Невідомий код помилки у відповіді по BB (200)");
}

// Every code with every kind of index: the argument lands in the text, no conversion is left
// over and nothing is cut short.
TEST(CorrectorErrors, EveryCodeAndIndexGivesAWholeText) {
  for (int code = 0; code <= 255; ++code) {
    for (int pipeline : {0, 41, 0x86, 255}) {
      for (int detail : {0, 3, 7, 8, 255}) {
        const std::string text = Decode(code, pipeline, detail);
        SCOPED_TRACE(testing::Message() << code << "/" << pipeline << "/" << detail);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.find('%'), std::string::npos) << text;
        if (code == 0 || code > 183)
          continue;
        const std::string format = CorrectorErrorTable[static_cast<size_t>(code)];
        if (format.find('%') == std::string::npos) {
          EXPECT_EQ(text, format);
          continue;
        }
        // The fixed tail after the last conversion survives whole.
        const size_t last = format.rfind('%');
        const size_t tail_start = format.find_first_of("dXs", last) + 1;
        const std::string tail = format.substr(tail_start);
        ASSERT_GE(text.size(), tail.size());
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
        const bool takes_pipeline =
            code != 54 && code != 55 && code != 56 && code != 66 && code != 67 && code != 115;
        if (takes_pipeline && format.find("%d") != std::string::npos) {
          EXPECT_NE(text.find(std::to_string(pipeline + 1)), std::string::npos) << text;
        }
      }
    }
  }
}

TEST(CalcboxErrorText, FollowsTheErrorCode) {
  calcbox box(1);
  box.error_code = 6;
  box.BuildErrorText();
  EXPECT_EQ(box.ErrorText(), "Пристрій не відповідає");
  box.error_code = 0;
  box.BuildErrorText();
  EXPECT_EQ(box.ErrorText(), "");
  box.error_code = 3;
  box.BuildErrorText();
  EXPECT_EQ(box.ErrorText(), "Невірно задана довжина даних в запиті");
  box.error_code = 5;
  box.BuildErrorText();
  EXPECT_EQ(box.ErrorText(), "Сбій при виконанні операції читання");
  box.reply[2] = 7;
  box.expected_length = 26;
  box.error_code = 10;
  box.BuildErrorText();
  EXPECT_EQ(box.ErrorText(), "Довжина відповіді (7) не відповідає очикуваній (26)");
  // A code outside the table leaves no stale text and does not read past it.
  box.error_code = 99;
  box.BuildErrorText();
  EXPECT_EQ(box.ErrorText(), "");
  box.error_code = -1;
  box.BuildErrorText();
  EXPECT_EQ(box.ErrorText(), "");
}

}  // namespace
