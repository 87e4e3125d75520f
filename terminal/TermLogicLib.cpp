// Anchor so the library is never empty.
namespace trelmo {
int termLogicLibraryAnchor = 0;
}
