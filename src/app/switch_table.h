// The command-line switches and the job each one starts.

#ifndef OVIX_APP_SWITCH_TABLE_H_
#define OVIX_APP_SWITCH_TABLE_H_

#include <string_view>

namespace ovix {

enum class Job { kNone, kPack, kUpload, kDownload, kProject, kUpProject, kInfo, kCheckUpdate };

struct SwitchEntry {
  char const* text;         // the whole command line that starts the job
  Job job;
  char const* packageKind;  // kind handed to the dialog, or null
};

// The switches in the order they are tested.
inline constexpr SwitchEntry kSwitchTable[] = {
    {"-pack", Job::kPack, "DLL"},          {"-upload", Job::kUpload, "DLL"},
    {"-download", Job::kDownload, nullptr}, {"-project", Job::kProject, "CONFIG"},
    {"-upproject", Job::kUpProject, "CONFIG"}, {"-info", Job::kInfo, nullptr},
    {"-checkupdate", Job::kCheckUpdate, nullptr},
};

// The job whose switch equals the whole command-line tail, compared byte for
// byte; Job::kNone for anything else (other letter case, further text, two
// switches, an empty line).
Job matchSwitch(std::string_view commandTail);

// The switch entry of a job; null for Job::kNone.
const SwitchEntry* switchEntryFor(Job job);

}  // namespace ovix

#endif  // OVIX_APP_SWITCH_TABLE_H_
