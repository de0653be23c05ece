// The error report: its exact text and how a handler goes on after it.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/step_runner.h"
#include "db/engine/error.h"
#include "tests/gui/test_platform.h"

namespace corvalin {
namespace {

using testing::TestPlatform;

TEST(ErrorReport, TextQuotesDescriptionHandlerAndLine) {
  TestPlatform platform;
  StepRunner run(platform, nullptr, "Form2.PushButton2_Click");
  run.step(180, [] {
    throw engine::Error(engine::kErrFileLocked, "The file is in use.\r\nClose it and try again.");
  });
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].caption, "Application Error");
  EXPECT_EQ(platform.boxes[0].icon, Platform::Icon::Warning);
  EXPECT_EQ(platform.boxes[0].text,
            "The file is in use.\r\nClose it and try again.\r\n"
            "in Mergeling2021/08/31.Form2.PushButton2_Click at line 180\r\r"
            "Please email screenshot of this message to support@corvalin.example.com");
}

TEST(ErrorReport, EmptyDescriptionStillGivesTheOtherParagraphs) {
  TestPlatform platform;
  StepRunner run(platform, nullptr, "Form1.Form_Load");
  run.step(100, [] { throw std::runtime_error(""); });
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_TRUE(platform.boxes[0].text.startsWith("\r\nin Mergeling2021/08/31.Form1.Form_Load at line 100\r\r"));
}

TEST(ErrorReport, HandlerGoesOnAndEveryFailureGetsItsOwnBox) {
  TestPlatform platform;
  StepRunner run(platform, nullptr, "Form1.Form_Load");
  std::vector<int> ran;
  run.step(106, [&] { ran.push_back(1); });
  run.step(106, [&] { throw std::runtime_error("second"); });
  run.step(106, [&] { ran.push_back(3); });
  run.step(128, [&] { throw std::runtime_error("fourth"); });
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  ASSERT_EQ(platform.boxes.size(), 2u);
  EXPECT_TRUE(platform.boxes[0].text.startsWith("second\r\nin Mergeling2021/08/31.Form1.Form_Load at line 106\r\r"));
  EXPECT_TRUE(platform.boxes[1].text.startsWith("fourth\r\nin Mergeling2021/08/31.Form1.Form_Load at line 128\r\r"));
}

TEST(ErrorReport, FailedTestRunsTheStepItGuards) {
  TestPlatform platform;
  StepRunner run(platform, nullptr, "Form1.Form_Load");
  bool guarded = false;
  if (run.test(124, []() -> bool { throw std::runtime_error("cannot stat"); })) guarded = true;
  EXPECT_TRUE(guarded);
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_NE(platform.boxes[0].text.indexOf("at line 124\r\r"), -1);
  EXPECT_FALSE(run.test(136, [] { return false; })) << "a test that works decides as usual";
  EXPECT_EQ(platform.boxes.size(), 1u);
}

}  // namespace
}  // namespace corvalin
