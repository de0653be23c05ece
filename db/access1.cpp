#include "db/access1.h"

#include <QUrl>
#include <exception>

#include "app/platform.h"
#include "app/step_runner.h"
#include "db/database_choice.h"
#include "db/engine/error.h"

namespace corvalin {

QString BuildConnectionString(const QString& path, const QString& password) {
  const bool ace = path.right(5).toLower() == QLatin1String("accdb");
  const QString prefix = ace ? QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=")
                             : QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=");
  return prefix + path + QStringLiteral(";JET OLEDB:Database Password=") + password;
}

QString GetConnectionString(const DatabaseChoice& choice, const QString& file,
                            const QString& password) {
  if (file.isEmpty()) return BuildConnectionString(choice.path1(), choice.password1());
  return BuildConnectionString(file, password);
}

QString GetConnectionString2(const DatabaseChoice& choice) {
  return BuildConnectionString(choice.path2(), choice.password2());
}

QString ProviderGuidanceText() {
  const QString paragraphs[] = {
      QStringLiteral("Error #3706: Provider cannot be found. It may not be properly installed."),
      QStringLiteral("You are getting this error because:"),
      QStringLiteral("1. Microsoft Access is not installed on your computer."),
      QStringLiteral(
          "2. A set of Microsoft components to transfer data is not installed on your computer."),
      QStringLiteral("You need to download and install Microsoft Access Database Engine 2010 or "
                     "2016 to solve this problem."),
      QStringLiteral("Would you like me to open the Microsoft site now so you can do this?"),
      QStringLiteral("(If you have any further questions please email a screenshot of this "
                     "error message to ") +
          QString::fromLatin1(kSupportAddress) + QStringLiteral(")"),
  };
  QString text;
  for (const QString& paragraph : paragraphs) {
    if (!text.isEmpty()) text += QStringLiteral("\r\n\r\n");
    text += paragraph;
  }
  return text;
}

bool CheckProvider(Platform& platform, QWidget* owner) {
  // Every failure is handled here: the caller only learns true or false.
  int number = 0;
  QString description;
  try {
    platform.createConnectionObject();
    return true;
  } catch (const engine::Error& error) {
    number = error.number();
    description = QString::fromStdString(error.description());
  } catch (const std::exception& error) {
    description = QString::fromLocal8Bit(error.what());
  } catch (...) {
  }
  const bool missingProvider =
      number == engine::kErrProviderNotFound ||
      description.contains(QLatin1String("provider cannot be found"), Qt::CaseInsensitive);
  if (!missingProvider) return false;
  bool yes = false;
  try {
    yes = platform.askYesNo(owner, ProviderGuidanceText());
  } catch (...) {
  }
  if (yes) {
    // Each page on its own: a page that does not open keeps nobody from the
    // other, and what the browser made of them is not looked at.
    for (const char* page : {kEngine2010Page, kEngine2016Page}) {
      try {
        platform.openUrl(QUrl(QString::fromLatin1(page)));
      } catch (...) {
      }
    }
  }
  return false;
}

}  // namespace corvalin
