#include "gui/qt_translations.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

namespace {

bool HasCyrillic(const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() >= 0x0400 && c.unicode() <= 0x04FF)
      return true;
  }
  return false;
}

}  // namespace

class QtTranslationsTest : public QObject {
  Q_OBJECT

 private slots:
  void standardButtonsAndTheFileDialogSpeakUkrainian() {
    QTranslator translator;
    QVERIFY(LoadQtTranslations(translator));

    QDialogButtonBox box(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Save)->text(), QStringLiteral("Зберегти"));
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Скасувати"));

    // Qt's own file dialog, as the platform without a native one shows it.
    QFileDialog dialog(nullptr, QStringLiteral("Експорт журналу калібровок"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    auto* look_in = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
    QVERIFY(look_in != nullptr);
    QVERIFY2(HasCyrillic(look_in->text()), qPrintable(look_in->text()));
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QVERIFY(buttons != nullptr);
    for (QAbstractButton* b : buttons->buttons())
      QVERIFY2(HasCyrillic(b->text()), qPrintable(b->text()));
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(QDialogButtonBox(QDialogButtonBox::Save).buttons().front()->text(),
             QStringLiteral("Save"));
  }

  void theFolderBesideTheProgramComesFirstAndNoneLeavesEnglish() {
    QTemporaryDir beside;
    QVERIFY(beside.isValid());
    const QString folder = beside.filePath(QStringLiteral("translations"));
    QVERIFY(QDir().mkpath(folder));
    // What the Windows package carries: Qt's catalogue under its own name.
    const QString system = QtTranslationFolders().last();
    QVERIFY(QFile::copy(QDir(system).filePath(QStringLiteral("qtbase_uk.qm")),
                        QDir(folder).filePath(QStringLiteral("qtbase_uk.qm"))));
    QTranslator translator;
    QVERIFY(LoadQtTranslations(translator, {beside.filePath(QStringLiteral("missing")), folder}));
    QCOMPARE(QFileInfo(translator.filePath()).absolutePath(), QFileInfo(folder).absoluteFilePath());
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(QtTranslationFolders().first(),
             QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations")));
    QTranslator none;
    QVERIFY(!LoadQtTranslations(none, {beside.filePath(QStringLiteral("missing"))}));
    QCOMPARE(QDialogButtonBox(QDialogButtonBox::Cancel).buttons().front()->text(),
             QStringLiteral("Cancel"));
  }
};

QTEST_MAIN(QtTranslationsTest)
#include "qt_translations_test.moc"
