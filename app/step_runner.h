// The error report every reporting handler uses. A handler is a list of
// numbered steps; a failing step shows the "Application Error" box with the
// failure's description, the handler's qualified name and the step number,
// and the handler goes on with its next step.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace corvalin {

class Platform;

// The support address the report asks the user to write to.
inline constexpr const char kSupportAddress[] = "support@corvalin.example.com";

// The report's text for a failure at `line` of the handler `qualifiedName`.
QString ErrorReportText(const QString& description, const QString& qualifiedName,
                        int line);

class StepRunner {
 public:
  // `handler` is "Form1.Form_Load" and the like; the report qualifies it.
  StepRunner(Platform& platform, QWidget* window, const QString& handler);

  // Runs one step; a failure is reported and swallowed. True when the step
  // ran through, for the few places where going on after a failure would do
  // harm.
  bool step(int line, const std::function<void()>& body);
  // Runs a test step. A failing test counts as passed: the report says what
  // went wrong and the handler goes on into the step the test guards.
  bool test(int line, const std::function<bool()>& condition);

 private:
  void report(const QString& description, int line);
  Platform& platform_;
  QWidget* window_;
  QString qualifiedName_;
};

}  // namespace corvalin
