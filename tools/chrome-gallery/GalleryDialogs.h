// The dialogs of the studio as the gallery shows them: built from their templates, skinned and
// dressed with the icons and colours the windows give their buttons.
#pragma once

#include "ui/SkinnedDialog.h"

#include <memory>
#include <vector>

namespace kelo::gallery {

// Every dialog the gallery shows, in id order.
std::vector<int> GalleryDialogIds();

// Dialog `id`, dressed; the main window (102) hosts the five effect pages in its tab control.
std::unique_ptr<ui::SkinnedDialog> MakeGalleryDialog(int id);

} // namespace kelo::gallery
