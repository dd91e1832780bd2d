#include "core/session.h"

#include "platform/file_search.h"

namespace kestrin {

void Session::LogWalkFailures(const FileIndex& index) {
  for (const WalkFailure& f : index.failures()) Log("无法读取文件夹 " + f.folder + ": " + f.reason);
}

}  // namespace kestrin
