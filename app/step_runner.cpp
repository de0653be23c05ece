#include "app/step_runner.h"

#include <exception>

#include "app/platform.h"
#include "db/engine/error.h"

namespace corvalin {

namespace {
// Every qualified name starts with this; it is part of what users quote back.
const char kQualifiedPrefix[] = "Mergeling2021/08/31.";
}  // namespace

QString ErrorReportText(const QString& description, const QString& qualifiedName,
                        int line) {
  return description + QStringLiteral("\r\n") + QStringLiteral("in ") + qualifiedName +
         QStringLiteral(" ") + QStringLiteral("at line ") + QString::number(line) +
         QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") +
         QString::fromLatin1(kSupportAddress);
}

StepRunner::StepRunner(Platform& platform, QWidget* window, const QString& handler)
    : platform_(platform), window_(window),
      qualifiedName_(QString::fromLatin1(kQualifiedPrefix) + handler) {}

bool StepRunner::step(int line, const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (const engine::Error& error) {
    report(QString::fromStdString(error.description()), line);
  } catch (const std::exception& error) {
    report(QString::fromLocal8Bit(error.what()), line);
  }
  return false;
}

bool StepRunner::test(int line, const std::function<bool()>& condition) {
  bool result = true;
  step(line, [&] { result = condition(); });
  return result;
}

void StepRunner::report(const QString& description, int line) {
  platform_.messageBox(window_, Platform::Icon::Warning, QStringLiteral("Application Error"),
                       ErrorReportText(description, qualifiedName_, line));
}

}  // namespace corvalin
