// The library a COM server of a machine laid down on real Windows may
// import, under the name the product's machines give it (vkclass.dll). It
// is built apart from the side-by-side programs: only a load that looks
// beside the server finds it.
#include <windows.h>

extern "C" __declspec(dllexport) int SideImportValue() {
    return 7;
}
