#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;
class QTranslator;

// Qt's own texts (the file and print dialogs, the standard buttons, the context menus of the
// fields) in Ukrainian, as the rest of the program speaks.

// Where qtbase_uk.qm is looked for, first to last: a "translations" folder beside the
// executable (where the Windows package puts it), then Qt's own translations folder (where the
// system's package of Qt translations puts it).
QStringList QtTranslationFolders();

// Loads qtbase_uk.qm from the first of `folders` that has it into `translator` and installs
// it in the application. False when none has it: Qt's texts then stay English, nothing else
// changes.
bool LoadQtTranslations(QTranslator& translator,
                        const QStringList& folders = QtTranslationFolders());
