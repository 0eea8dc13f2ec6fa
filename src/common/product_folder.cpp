#include "common/product_folder.h"

#include "frame/resource_lookup.h"
#include "guard/key_guard.h"
#include "resources/resource.h"

namespace tarnvale {

int FindProductFolder(std::string& out) {
    const std::string productKey = ResourceString(IDS_PRODUCT_KEY);
    const std::string folderKey = ResourceString(IDS_PRODUCT_FOLDER_KEY);
    // The product key only tells that the product is installed.
    if (!OpenKeyForReading(HKEY_CLASSES_ROOT, productKey)) return 0;
    return ReadRegistryString(HKEY_CLASSES_ROOT, folderKey, "", out);
}

}  // namespace tarnvale
