#include "win32/icon_dialog.h"

#include "win32/resource_ids.h"

namespace ovix::win32 {

namespace {

HICON loadIcon(int widthMetric, int heightMetric) {
  return static_cast<HICON>(LoadImageW(resourceModule(), MAKEINTRESOURCEW(IDI_OVIX), IMAGE_ICON,
                                       GetSystemMetrics(widthMetric),
                                       GetSystemMetrics(heightMetric), LR_SHARED));
}

}  // namespace

IconDialog::IconDialog(int templateId)
    : Dialog(templateId),
      icon_(loadIcon(SM_CXICON, SM_CYICON)),
      smallIcon_(loadIcon(SM_CXSMICON, SM_CYSMICON)) {}

void IconDialog::onInit() {
  SendMessageW(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
}

bool IconDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  (void)wParam;
  (void)lParam;
  if (message == WM_QUERYDRAGICON) {
    *result = reinterpret_cast<INT_PTR>(icon_);
    return true;
  }
  if (message == WM_PAINT && IsIconic(window())) {
    paintMinimised();
    *result = TRUE;
    return true;
  }
  return false;
}

void IconDialog::paintMinimised() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window(), &paint);
  SendMessageW(window(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(window(), &client);
  int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(window(), &paint);
}

}  // namespace ovix::win32
