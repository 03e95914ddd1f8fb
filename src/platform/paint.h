// 2-D painting in the manner of GDI and its MFC wrappers: bitmaps read from image files,
// pattern and solid brushes, pens, fonts, and a device context that fills, copies, draws
// lines and word-wrapped text into the bitmap selected into it.
#pragma once

#include <memory>
#include <string>

#include "platform/cstring.h"
#include "platform/types.h"

namespace kdx {

struct RECT {
  LONG left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const RECT&, const RECT&) = default;
};

namespace detail {
struct Surface;
struct DCState;
}  // namespace detail

// 32-bit pixels in memory. Null until created or loaded.
class CBitmap {
 public:
  // Files larger than this, or images wider or taller than kMaxSide, are not loaded: skins
  // come from disk and are read before the dialog can show.
  static constexpr long kMaxFileBytes = 16 << 20;
  static constexpr int kMaxSide = 4096;

  CBitmap();
  ~CBitmap();
  CBitmap(CBitmap&&) noexcept;
  CBitmap& operator=(CBitmap&&) noexcept;

  // Reads an image file (BMP, or any format the image library knows) at its natural size.
  // False, leaving the bitmap null, for a missing, unreadable, oversized or corrupt file.
  bool LoadFromFile(const std::string& path);
  // A width x height bitmap, opaque black (as a new screen-compatible bitmap is).
  bool CreateCompatibleBitmap(int width, int height);
  void DeleteObject();

  bool IsNull() const { return !surface_; }
  int Width() const;
  int Height() const;
  // The pixel's colour; 0 outside the bitmap.
  COLORREF GetPixel(int x, int y) const;
  bool SavePng(const std::string& path) const;
  bool SaveBmp(const std::string& path) const;

 private:
  friend class CBrush;
  friend class CDC;
  friend class ModalWindow;
  std::shared_ptr<detail::Surface> surface_;
};

class CBrush {
 public:
  CBrush();
  ~CBrush();
  // Tiles the bitmap from the painted surface's origin. False for a null bitmap.
  bool CreatePatternBrush(const CBitmap& bitmap);
  bool CreateSolidBrush(COLORREF colour);
  void DeleteObject();
  bool IsNull() const { return kind_ == Kind::kNone; }

 private:
  friend class CDC;
  enum class Kind { kNone, kSolid, kPattern } kind_ = Kind::kNone;
  COLORREF colour_ = 0;
  std::shared_ptr<detail::Surface> pattern_;
};

inline constexpr int PS_SOLID = 0;

class CPen {
 public:
  bool CreatePen(int style, int width, COLORREF colour);
  void DeleteObject() { created_ = false; }

 private:
  friend class CDC;
  bool created_ = false;
  int width_ = 1;
  COLORREF colour_ = 0;
};

class CFont {
 public:
  CFont();
  ~CFont();
  // pointSize in tenths of a point. When the face is not installed, fontconfig picks the
  // closest one, and characters it lacks (Chinese, say) come from fonts that have them.
  bool CreatePointFont(int pointSize, const CString& faceName);
  void DeleteObject();

 private:
  friend class CDC;
  std::string description_;  // empty until created
};

inline constexpr UINT DT_LEFT = 0x0;
inline constexpr UINT DT_CENTER = 0x1;
inline constexpr UINT DT_VCENTER = 0x4;
inline constexpr UINT DT_WORDBREAK = 0x10;
inline constexpr UINT DT_SINGLELINE = 0x20;
inline constexpr UINT DT_CALCRECT = 0x400;

inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// Draws into the bitmap selected into it; with none selected, drawing does nothing.
// Coordinates are pixels from the origin set by SetViewportOrg (0, 0 to begin with).
class CDC {
 public:
  CDC();
  ~CDC();
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  // Kept for the GDI calling pattern: every context here is a memory context.
  bool CreateCompatibleDC(CDC* /*other*/) { return true; }
  // Draws into `bitmap` from now on (the caller keeps it alive); returns the previous one.
  CBitmap* SelectObject(CBitmap* bitmap);
  CPen* SelectObject(CPen* pen);
  CFont* SelectObject(CFont* font);

  // A null or empty brush paints nothing.
  void FillRect(const RECT& rect, const CBrush* brush);
  void FillSolidRect(const RECT& rect, COLORREF colour);
  // Copies a width x height block of `source`'s bitmap from (sx, sy) to (x, y).
  void BitBlt(int x, int y, int width, int height, const CDC& source, int sx, int sy);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  // A dotted rectangle one pixel wide just inside `rect`.
  void DrawFocusRect(const RECT& rect);

  COLORREF SetTextColor(COLORREF colour);
  COLORREF SetBkColor(COLORREF colour);
  int SetBkMode(int mode);
  // Draws `text` inside `rect`, clipped to it; with DT_WORDBREAK lines break between words
  // (and inside a word wider than the rectangle). With DT_CALCRECT nothing is drawn and the
  // rectangle's bottom (and, for one line, its right) is set to fit the text. Returns the
  // text's height.
  int DrawText(const CString& text, RECT* rect, UINT format);

  // Moves the origin of later drawing to (x, y) of the bitmap, and limits drawing to the
  // given rectangle (in the new coordinates) until the next call.
  void SetViewportOrg(int x, int y);
  void IntersectClipRect(const RECT& rect);
  void SelectClipRgn(std::nullptr_t);

 private:
  std::unique_ptr<detail::DCState> state_;
  CBitmap* bitmap_ = nullptr;
  CPen* pen_ = nullptr;
  CFont* font_ = nullptr;
  CPen defaultPen_;
  CFont defaultFont_;
};

}  // namespace kdx
