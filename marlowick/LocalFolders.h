#pragma once

#include <string>

namespace marlowick {

/// Makes every folder on the way to the local file `localPath`: each prefix that ends at a "/",
/// shortest first, that is not yet in the process-wide set of folders made or found. The part
/// after the last "/" (the file name) is not touched. Throws std::runtime_error with the text of
/// `ensureFolder` when a folder cannot be made; folders made before stay.
void createFoldersFor(const std::string& localPath);

}  // namespace marlowick
