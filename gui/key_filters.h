#pragma once

class QLineEdit;
class QComboBox;

// Keeps numeric fields numeric by putting every typed character through the program's key
// filters before the field sees it. Pasted text is not filtered (the checks on acceptance
// catch it).
void InstallIntKeyFilter(QLineEdit* edit);
void InstallIntKeyFilter(QComboBox* editable_combo);
void InstallFloatKeyFilter(QLineEdit* edit);
