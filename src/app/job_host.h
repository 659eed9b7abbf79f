// The jobs a run can start.  Each front end implements the entry points it
// offers (the GUI shows dialogs, the command line runs from its options);
// an entry point that has no implementation yet tells the user so.

#ifndef OVIX_APP_JOB_HOST_H_
#define OVIX_APP_JOB_HOST_H_

#include <string>

namespace ovix {

class JobHost {
 public:
  virtual ~JobHost() = default;

  // Each returns true when the job succeeded (its dialog closed on OK, the
  // check-update run returned true).
  virtual bool runLocalPackage(const std::string& packageKind);     // -pack, -project
  virtual bool runServerCommit(const std::string& packageKind);     // -upload, -upproject
  virtual bool runUpdatePatch();                                    // -download
  virtual bool runProjectInfo();                                    // -info
  virtual bool runCheckUpdate();                                    // -checkupdate
};

// Tells the user that the job of `switchText` is not available in this
// build and returns false.
bool reportJobNotAvailable(char const* switchText);

}  // namespace ovix

#endif  // OVIX_APP_JOB_HOST_H_
