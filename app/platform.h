// The few places where the program meets the desktop and the database
// components: message boxes, the open-file dialog, web pages, the start-up
// probe of the database engine and ending the program. The program uses the
// real ones (QtPlatform); tests answer them instead.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace corvalin {

class Platform {
 public:
  enum class Icon { None, Information, Warning, Critical };
  virtual ~Platform() = default;
  // A modal box with one OK button; an empty caption means the application
  // title.
  virtual void messageBox(QWidget* parent, Icon icon, const QString& caption,
                          const QString& text) = 0;
  // A modal box with Yes (the default) and No, no icon, the application
  // title as caption; true for Yes.
  virtual bool askYesNo(QWidget* parent, const QString& text) = 0;
  // The full path of the chosen file, or empty when the user cancelled.
  // `filter` is in the common dialog's form: a description and its
  // patterns, separated and ended by vertical bars ("Text (*.txt)|*.txt|").
  virtual QString openFileName(QWidget* parent, const QString& title,
                               const QString& filter) = 0;
  virtual bool openUrl(const QUrl& url) = 0;
  // Creates a connection object of the database engine and makes sure that
  // the providers the connection strings name can serve it. Throws
  // engine::Error (3706 for a missing provider) when that cannot be done.
  virtual void createConnectionObject() = 0;
  // Ends the program at once: no further handler runs.
  virtual void endProgram() = 0;
};

// The entries of a common-dialog filter as Qt's file dialog takes them
// ("description (patterns)"); with the dialog's HideNameFilterDetails the
// user sees each description exactly as written, matched by its patterns.
QStringList DialogNameFilters(const QString& filter);

class QtPlatform : public Platform {
 public:
  void messageBox(QWidget* parent, Icon icon, const QString& caption,
                  const QString& text) override;
  bool askYesNo(QWidget* parent, const QString& text) override;
  QString openFileName(QWidget* parent, const QString& title,
                       const QString& filter) override;
  bool openUrl(const QUrl& url) override;
  void createConnectionObject() override;
  void endProgram() override;
};

}  // namespace corvalin
