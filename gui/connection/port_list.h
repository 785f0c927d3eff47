#pragma once

class QComboBox;

// The list of serial ports the settings dialogs choose from: each entry "COMn", its device and
// the adapter's name shown beside it in the open list and as its tool tip.

// Makes `list` show the device of each entry in its open list.
void MakePortList(QComboBox* list);

// Fills `list` with the ports present and selects `selected`. With `none_entry`, "немає"
// (port 0) leads the list, and a selected port that is not present is listed anyway, so that
// accepting the dialog does not quietly forget it; without, the first port stands in for it.
void FillPortList(QComboBox* list, int selected, bool none_entry);

// The port number of the selected entry; 0 for "немає" or no entry.
int SelectedPort(const QComboBox* list);

// Widens the open list to its widest entry.
void FitPortListToEntries(QComboBox* list);
