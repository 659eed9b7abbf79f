// The list of a combo box, in the program's UTF-8.

#ifndef OVIX_WIN32_COMBO_BOX_H_
#define OVIX_WIN32_COMBO_BOX_H_

#include <windows.h>

#include <string>
#include <vector>

namespace ovix::win32 {

// Empties the list of `combo` and adds `items` in order (a sorted box sorts
// them).  The text of a drop-down box's edit is kept.
void replaceComboItems(HWND combo, const std::vector<std::string>& items);

// The entries of the list, in the box's order.
std::vector<std::string> comboItems(HWND combo);

int comboCount(HWND combo);

}  // namespace ovix::win32

#endif  // OVIX_WIN32_COMBO_BOX_H_
