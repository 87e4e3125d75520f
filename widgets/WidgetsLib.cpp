// Anchor so the library is never empty.
namespace trelmo { int widgetsLibraryAnchor = 0; }
