// The splash window: the brand's animated picture with a title, shown while
// the tray monitor starts and, modally, as its About box.
#pragma once

#include <memory>
#include <string>

#include "framework/forms.h"
#include "framework/timer.h"
#include "gif/gif_image.h"
#include "tray/splash_resource.h"

namespace om {

// A text drawn over the picture: centred, transparent background.
struct TSplashLabel {
  std::string Caption;
  COLORREF Color = RGB(255, 255, 255);
  int FontHeight = 16;
  bool Bold = true;
  int Left = 0, Top = 0, Width = 0;
};

class TSplashForm : public TForm {
public:
  explicit TSplashForm(TComponent* AOwner);
  ~TSplashForm() override;

  void ShowSplash(const std::string& title);
  // Modal until clicked; returns the modal result (IDOK).
  int ShowAboutBox(const std::string& title);

  void FormCreate();
  void FormShow();
  void Timer1Timer(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void Panel1Click(TObject* Sender);

  // The picture (none when "brand\images\splash.gif" could not be loaded).
  TGIFPicture* Picture() const { return FPicture.get(); }
  RECT PictureRect() const { return RECT{8, 8, 8 + FPictureWidth, 8 + FPictureHeight}; }
  bool Modal() const { return FModal; }
  int ModalResult() const { return FModalResult; }

  TSplashLabel TitleLabel, lblVersion;
  TTimer* Timer1;

  // Shared with the timer: 2 ends the start-up display.
  static volatile int TickCount;
  // Folder the picture is looked for in ("" = the program's folder).
  static std::string PictureFolder;

protected:
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;

private:
  void ApplyTextColor();
  void LoadPicture();
  void Paint(HDC dc);
  void PictureChanged(TObject* Sender);

  std::unique_ptr<TGIFPicture> FPicture;
  int FPictureWidth = 300, FPictureHeight = 240;
  bool FModal = false;
  int FModalResult = 0;
};

}  // namespace om
