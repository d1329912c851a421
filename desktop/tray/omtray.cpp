// omtray: the tray monitor of the backup agent.
#include "platform/win32.h"

#include <exception>

#include "gif/gif_picture_win32.h"
#include "tray/frmmain.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    om::TGIFCodecUnit gifCodec;
    return om::RunTrayProgram();
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, e.what(), "Backup Client", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    return 1;
  }
}
