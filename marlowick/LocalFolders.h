#pragma once

#include <string>

namespace marlowick {

/// Makes every folder on the way to the local file `localPath`: each prefix that ends at a "/",
/// shortest first, that is not yet in the process-wide set of folders made or found. The part
/// after the last "/" (the file name) is not touched. Throws std::runtime_error with the text of
/// `ensureFolder` when a folder cannot be made; folders made before stay.
void createFoldersFor(const std::string& localPath);

/// True when the folder of the local file `localPath` is gone although it was made or found
/// before (someone removed it meanwhile); the folders on its way are then forgotten, so that
/// `createFoldersFor` looks at them, and makes them, again.
bool forgetVanishedFolder(const std::string& localPath);

}  // namespace marlowick
