// The painting layer on GDI: bitmaps are 32-bit DIB sections, so pixels are read and saved
// from memory, and each CDC is a memory DC.
#include "platform/win32/win32.h"

#include <wincodec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/bmp_file.h"
#include "platform/codepage.h"
#include "platform/paint.h"
#include "platform/png_file.h"
#include "platform/win32/paint_surface.h"

namespace kdx {
namespace detail {

struct DCState {
  HDC dc = nullptr;
  HGDIOBJ firstBitmap = nullptr;     // the DC's own, put back before a bitmap is let go
  std::shared_ptr<Surface> selected;  // kept alive while selected: GDI cannot delete it then
  int originX = 0, originY = 0;
  HFONT font = nullptr;  // made for fontKey, kept for the next DrawText
  std::string fontKey;

  DCState() : dc(CreateCompatibleDC(nullptr)) {
    if (dc != nullptr) firstBitmap = GetCurrentObject(dc, OBJ_BITMAP);
  }
  ~DCState() {
    if (dc != nullptr) {
      if (firstBitmap != nullptr) ::SelectObject(dc, firstBitmap);
      ::DeleteDC(dc);
    }
    if (font != nullptr) ::DeleteObject(font);
  }
  // Drawing goes to a selected bitmap only.
  HDC Target() const { return selected ? dc : nullptr; }
};

}  // namespace detail

namespace {

using detail::Surface;

constexpr ::COLORREF Gdi(COLORREF c) { return static_cast<::COLORREF>(c); }

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = CString::FromUtf8(utf8).str();
  return std::wstring(text.begin(), text.end());
}

std::shared_ptr<Surface> NewSurface(int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  const BITMAPINFO info = detail::TopDown32(width, height);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    if (bitmap != nullptr) ::DeleteObject(bitmap);
    return nullptr;
  }
  return std::make_shared<Surface>(bitmap, static_cast<std::uint32_t*>(bits), width, height);
}

template <class T>
struct Releaser {
  void operator()(T* p) const { p->Release(); }
};
template <class T>
using Com = std::unique_ptr<T, Releaser<T>>;

// Reads an image with the Windows Imaging Component, which knows BMP, PNG, JPEG, GIF and
// TIFF; the size is checked before the pixels are decoded.
std::shared_ptr<Surface> Decode(const std::wstring& path) {
  const ::HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  struct Uninit {
    bool needed;
    ~Uninit() {
      if (needed) CoUninitialize();
    }
  } uninit{init >= 0};  // a thread in another apartment can still create the factory
  IWICImagingFactory* rawFactory = nullptr;
  IWICBitmapDecoder* rawDecoder = nullptr;
  IWICBitmapFrameDecode* rawFrame = nullptr;
  IWICBitmapSource* rawPixels = nullptr;
  if (CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                       reinterpret_cast<void**>(&rawFactory)) < 0) {
    return nullptr;
  }
  Com<IWICImagingFactory> factory(rawFactory);
  if (factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                         &rawDecoder) < 0) {
    return nullptr;
  }
  Com<IWICBitmapDecoder> decoder(rawDecoder);
  if (decoder->GetFrame(0, &rawFrame) < 0) return nullptr;
  Com<IWICBitmapFrameDecode> frame(rawFrame);
  ::UINT width = 0, height = 0;
  if (frame->GetSize(&width, &height) < 0 || width < 1 || height < 1 || width > CBitmap::kMaxSide ||
      height > CBitmap::kMaxSide || WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame.get(), &rawPixels) < 0) {
    return nullptr;
  }
  Com<IWICBitmapSource> pixels(rawPixels);
  auto surface = NewSurface(static_cast<int>(width), static_cast<int>(height));
  if (!surface || pixels->CopyPixels(nullptr, width * 4, width * height * 4,
                                     reinterpret_cast<BYTE*>(surface->pixels)) < 0) {
    return nullptr;
  }
  return surface;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<::DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  return CloseHandle(file) && ok;
}

// The font a CFont names: "<tenths of a point>|<face>".
HFONT MakeFont(const std::string& description) {
  const auto bar = description.find('|');
  if (bar == std::string::npos) return nullptr;
  const int tenths = std::atoi(description.substr(0, bar).c_str());
  const std::wstring face = Wide(description.substr(bar + 1));
  LOGFONTW font{};
  font.lfHeight = -MulDiv(tenths, 96, 720);  // at 96 dpi, as the other backend lays out
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;  // the mapper may pick, and link, fonts with Chinese
  font.lfOutPrecision = OUT_TT_PRECIS;
  font.lfQuality = ANTIALIASED_QUALITY;
  face.copy(font.lfFaceName, LF_FACESIZE - 1);
  return CreateFontIndirectW(&font);
}

}  // namespace

bool CBitmap::LoadFromFile(const std::string& path) {
  surface_.reset();
  const std::wstring wide = Wide(path);
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (path.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &attributes) ||
      (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  const unsigned long long size = (static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) |
                                  attributes.nFileSizeLow;
  if (size > static_cast<unsigned long long>(kMaxFileBytes)) return false;
  surface_ = Decode(wide);
  return surface_ != nullptr;
}

bool CBitmap::CreateCompatibleBitmap(int width, int height) {
  surface_ = NewSurface(width, height);
  return surface_ != nullptr;
}

int CBitmap::Width() const { return surface_ ? surface_->width : 0; }
int CBitmap::Height() const { return surface_ ? surface_->height : 0; }

COLORREF CBitmap::GetPixel(int x, int y) const {
  if (!surface_ || x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
  GdiFlush();
  const std::uint32_t p = surface_->pixels[static_cast<std::ptrdiff_t>(y) * surface_->width + x];
  return RGB(static_cast<BYTE>(p >> 16), static_cast<BYTE>(p >> 8), static_cast<BYTE>(p));
}

bool CBitmap::SavePng(const std::string& path) const {
  if (!surface_) return false;
  GdiFlush();
  return WriteWholeFile(path, EncodePng24(Width(), Height(), reinterpret_cast<const unsigned char*>(surface_->pixels),
                                          Width() * 4));
}

bool CBitmap::SaveBmp(const std::string& path) const {
  if (!surface_) return false;
  GdiFlush();
  return WriteWholeFile(path, EncodeBmp24(Width(), Height(), reinterpret_cast<const unsigned char*>(surface_->pixels),
                                          Width() * 4));
}

bool CBrush::CreatePatternBrush(const CBitmap& bitmap) {
  DeleteObject();
  if (bitmap.IsNull()) return false;
  // The brush keeps its own copy, so later drawing into the bitmap does not change it.
  auto copy = NewSurface(bitmap.Width(), bitmap.Height());
  if (!copy) return false;
  GdiFlush();
  std::memcpy(copy->pixels, bitmap.surface_->pixels, static_cast<std::size_t>(copy->width) * copy->height * 4);
  copy->brush = ::CreatePatternBrush(copy->bitmap);
  if (copy->brush == nullptr) return false;
  pattern_ = std::move(copy);
  kind_ = Kind::kPattern;
  return true;
}

bool CFont::CreatePointFont(int pointSize, const CString& faceName) {
  if (pointSize <= 0) return false;
  const std::string face = Utf16ToUtf8(faceName.str());
  description_ = std::to_string(pointSize) + "|" + (face.empty() ? "MS Shell Dlg 2" : face);
  return true;
}

CDC::CDC() : state_(std::make_unique<detail::DCState>()) {
  defaultPen_.CreatePen(PS_SOLID, 1, 0);
  defaultFont_.CreatePointFont(90, CString(u"MS Shell Dlg 2"));
}

CDC::~CDC() = default;

CBitmap* CDC::SelectObject(CBitmap* bitmap) {
  CBitmap* previous = bitmap_;
  detail::DCState& s = *state_;
  if (s.selected && s.dc != nullptr) ::SelectObject(s.dc, s.firstBitmap);
  s.selected.reset();
  bitmap_ = bitmap;
  // A bitmap selected into another DC meanwhile cannot be selected here: drawing does nothing.
  if (bitmap && !bitmap->IsNull() && s.dc != nullptr && ::SelectObject(s.dc, bitmap->surface_->bitmap) != nullptr) {
    s.selected = bitmap->surface_;
  }
  return previous;
}

CPen* CDC::SelectObject(CPen* pen) { return std::exchange(pen_, pen); }
CFont* CDC::SelectObject(CFont* font) { return std::exchange(font_, font); }

void CDC::FillRect(const RECT& rect, const CBrush* brush) {
  HDC dc = state_->Target();
  if (!dc || !brush || brush->IsNull() || rect.right <= rect.left || rect.bottom <= rect.top) return;
  const ::RECT r{rect.left, rect.top, rect.right, rect.bottom};
  if (brush->kind_ == CBrush::Kind::kSolid) {
    const ::COLORREF old = ::SetBkColor(dc, Gdi(brush->colour_));
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);  // a solid fill without a brush object
    ::SetBkColor(dc, old);
  } else {
    // The pattern starts at the origin drawing is relative to.
    SetBrushOrgEx(dc, state_->originX, state_->originY, nullptr);
    ::FillRect(dc, &r, brush->pattern_->brush);
  }
}

void CDC::BitBlt(int x, int y, int width, int height, const CDC& source, int sx, int sy) {
  HDC dc = state_->Target();
  HDC from = source.state_->Target();
  if (!dc || !from || width <= 0 || height <= 0) return;
  GdiFlush();
  // The source position is in the source bitmap's pixels, whatever that DC's origin.
  ::BitBlt(dc, x, y, width, height, from, sx - source.state_->originX, sy - source.state_->originY, SRCCOPY);
}

void CDC::MoveTo(int x, int y) { MoveToEx(state_->dc, x, y, nullptr); }

void CDC::LineTo(int x, int y) {
  HDC dc = state_->Target();
  const CPen& pen = pen_ ? *pen_ : defaultPen_;
  POINT from{};
  GetCurrentPositionEx(state_->dc, &from);
  MoveTo(x, y);
  if (!dc || !pen.created_) return;
  const int x0 = from.x, y0 = from.y, w = pen.width_;
  // Straight lines are filled rectangles centred on the line, as wide pens are on the other
  // backend; the end point is not drawn, as with GDI.
  RECT band{};
  if (y0 == y) {
    band.left = std::min(x0, x) + (x < x0 ? 1 : 0), band.right = band.left + std::abs(x - x0);
    band.top = y - (w - 1) / 2, band.bottom = band.top + w;
  } else if (x0 == x) {
    band.top = std::min(y0, y) + (y < y0 ? 1 : 0), band.bottom = band.top + std::abs(y - y0);
    band.left = x - (w - 1) / 2, band.right = band.left + w;
  } else {
    LOGBRUSH brush{BS_SOLID, Gdi(pen.colour_), 0};
    HPEN line = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT, static_cast<::DWORD>(w), &brush, 0, nullptr);
    HGDIOBJ old = ::SelectObject(dc, line);
    MoveToEx(dc, x0, y0, nullptr);
    ::LineTo(dc, x, y);
    ::SelectObject(dc, old);
    ::DeleteObject(line);
    return;
  }
  FillSolidRect(band, pen.colour_);
}

void CDC::DrawFocusRect(const RECT& rect) {
  HDC dc = state_->Target();
  if (!dc || rect.right - rect.left < 2 || rect.bottom - rect.top < 2) return;
  // Every other pixel inverted, counted round from the top-left corner, which is drawn: the
  // system's own focus rectangle takes its dots from the device's pixel grid instead.
  const int w = rect.right - 1 - rect.left, h = rect.bottom - 1 - rect.top;
  for (int d = 0; d < 2 * (w + h); d += 2) {
    const int x = d < w ? rect.left + d : d < w + h ? rect.right - 1 : d < 2 * w + h ? rect.right - 1 - (d - w - h) : rect.left;
    const int y = d < w ? rect.top : d < w + h ? rect.top + d - w : d < 2 * w + h ? rect.bottom - 1 : rect.bottom - 1 - (d - 2 * w - h);
    PatBlt(dc, x, y, 1, 1, DSTINVERT);
  }
}

COLORREF CDC::SetTextColor(COLORREF colour) { return ::SetTextColor(state_->dc, Gdi(colour)); }
COLORREF CDC::SetBkColor(COLORREF colour) { return ::SetBkColor(state_->dc, Gdi(colour)); }

int CDC::SetBkMode(int mode) { return ::SetBkMode(state_->dc, mode); }

int CDC::DrawText(const CString& text, RECT* rect, UINT format) {
  detail::DCState& s = *state_;
  if (!rect || text.IsEmpty() || s.dc == nullptr) {
    if (rect && (format & DT_CALCRECT)) rect->bottom = rect->top;
    return 0;
  }
  const CFont& font = font_ && !font_->description_.empty() ? *font_ : defaultFont_;
  if (s.fontKey != font.description_ || s.font == nullptr) {
    if (s.font != nullptr) ::DeleteObject(s.font);
    s.font = MakeFont(font.description_);
    s.fontKey = font.description_;
  }
  // Text is measured even with no bitmap selected, so a context can size before painting.
  if (!(format & DT_CALCRECT) && !s.Target()) return 0;
  HGDIOBJ oldFont = s.font != nullptr ? ::SelectObject(s.dc, s.font) : nullptr;
  // Ampersands are text, not mnemonics; a word wider than the rectangle breaks inside.
  // (The header's DT_ values are GDI's.)
  ::UINT flags = DT_NOPREFIX | (format & (DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_CALCRECT | DT_WORDBREAK));
  if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE)) flags |= DT_EDITCONTROL;
  std::u16string chars = text.str();
  if (format & DT_SINGLELINE) std::replace_if(chars.begin(), chars.end(), [](char16_t c) { return c == u'\n' || c == u'\r'; }, u' ');
  auto draw = [&](::RECT& r, ::UINT how) {
    return ::DrawTextW(s.dc, reinterpret_cast<LPCWSTR>(chars.c_str()), static_cast<int>(chars.size()), &r, how);
  };
  ::RECT r{rect->left, rect->top, rect->right, rect->bottom};
  int height = draw(r, flags);
  if ((flags & DT_VCENTER) && !(flags & DT_CALCRECT)) {
    // Centred drawing answers the text's bottom instead: measure for the height.
    ::RECT measured = r;
    height = draw(measured, flags | DT_CALCRECT);
  }
  if (oldFont != nullptr) ::SelectObject(s.dc, oldFont);
  if (format & DT_CALCRECT) {
    rect->bottom = rect->top + height;
    if (!(format & DT_WORDBREAK) || (format & DT_SINGLELINE)) rect->right = r.right;
  }
  return height;
}

void CDC::SetViewportOrg(int x, int y) {
  state_->originX = x;
  state_->originY = y;
  SetViewportOrgEx(state_->dc, x, y, nullptr);
}

void CDC::IntersectClipRect(const RECT& rect) {
  ::IntersectClipRect(state_->dc, rect.left, rect.top, std::max(rect.right, rect.left),
                      std::max(rect.bottom, rect.top));
}

void CDC::SelectClipRgn(std::nullptr_t) { ::SelectClipRgn(state_->dc, nullptr); }

}  // namespace kdx
