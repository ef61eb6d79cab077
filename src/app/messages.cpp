// The texts, captions and styles of the program's message boxes.
#include "app/messages.h"

#include "platform/platform.h"

namespace {

constexpr wchar_t kErrorCaption[] = L"ERROR";
constexpr wchar_t kCaption[] = L"『Quorvane』更新プログラム";

}  // namespace

void ShowOutputOpenError() {
  platform::ShowMessageBox(L"出力ファイルが開けません。", kErrorCaption, platform::kMbOk);
}

void ShowOutputWriteError() {
  platform::ShowMessageBox(L"出力ファイルに書き込めません。", kErrorCaption, platform::kMbOk);
}

void ShowNotInstalled() {
  platform::ShowMessageBox(L"『Quorvane』がインストールされていません。", kCaption, platform::kMbIconError);
}

bool ConfirmUpdate() {
  // Only an explicit No stops; a box that could not be shown (0) goes on.
  return platform::ShowMessageBox(L"『Quorvane』を更新しますか？", kCaption,
                                  platform::kMbYesNo | platform::kMbIconQuestion) != platform::kIdNo;
}

void ShowUpdateFailed() {
  platform::ShowMessageBox(L"『Quorvane』の更新が失敗しました。", kCaption, platform::kMbIconError);
}

void ShowUpdateComplete() {
  platform::ShowMessageBox(L"『Quorvane』の更新が完了しました。", kCaption, platform::kMbIconInformation);
}
