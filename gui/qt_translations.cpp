#include "gui/qt_translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

const char kQtBaseCatalogue[] = "qtbase_uk";

}  // namespace

QStringList QtTranslationFolders() {
  return {QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations")),
          QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

bool LoadQtTranslations(QTranslator& translator, const QStringList& folders) {
  for (const QString& folder : folders) {
    if (translator.load(QString::fromLatin1(kQtBaseCatalogue), folder))
      return QCoreApplication::installTranslator(&translator);
  }
  return false;
}
