#include "app/switch_table.h"

namespace ovix {

Job matchSwitch(std::string_view commandTail) {
  for (const SwitchEntry& entry : kSwitchTable) {
    if (commandTail == entry.text) return entry.job;
  }
  return Job::kNone;
}

const SwitchEntry* switchEntryFor(Job job) {
  for (const SwitchEntry& entry : kSwitchTable) {
    if (entry.job == job) return &entry;
  }
  return nullptr;
}

}  // namespace ovix
