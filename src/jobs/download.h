// The download dialog's work: its remembered fields and its OK button.

#ifndef OVIX_JOBS_DOWNLOAD_H_
#define OVIX_JOBS_DOWNLOAD_H_

#include <string>

#include "platform/env.h"

namespace ovix {

struct DownloadFields {
  std::string installPath;
  std::string address;
  std::string port;
};

// The texts remembered in the download settings file; empty when absent.
DownloadFields loadRememberedDownload(Env& env);

// The OK handler of the download dialog: brings the installation up to
// date from the patch store.  On success shows "下载补丁完成", remembers
// the three texts and returns true (the dialog closes); otherwise the
// reason was shown or logged and the dialog stays open.
bool downloadDialogOk(Env& env, const DownloadFields& fields);

}  // namespace ovix

#endif  // OVIX_JOBS_DOWNLOAD_H_
