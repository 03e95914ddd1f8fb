// The painting objects' parts that need no drawing library, shared by every backend.
#include <algorithm>

#include "platform/paint.h"

namespace kdx {

CBitmap::CBitmap() = default;
CBitmap::~CBitmap() = default;
CBitmap::CBitmap(CBitmap&&) noexcept = default;
CBitmap& CBitmap::operator=(CBitmap&&) noexcept = default;

void CBitmap::DeleteObject() { surface_.reset(); }

CBrush::CBrush() = default;
CBrush::~CBrush() = default;

bool CBrush::CreateSolidBrush(COLORREF colour) {
  DeleteObject();
  colour_ = colour;
  kind_ = Kind::kSolid;
  return true;
}

void CBrush::DeleteObject() {
  kind_ = Kind::kNone;
  pattern_.reset();
}

bool CPen::CreatePen(int style, int width, COLORREF colour) {
  if (style != PS_SOLID) return false;
  width_ = std::max(width, 1);
  colour_ = colour;
  created_ = true;
  return true;
}

CFont::CFont() = default;
CFont::~CFont() = default;

void CFont::DeleteObject() { description_.clear(); }

void CDC::FillSolidRect(const RECT& rect, COLORREF colour) {
  CBrush brush;
  brush.CreateSolidBrush(colour);
  FillRect(rect, &brush);
}

}  // namespace kdx
