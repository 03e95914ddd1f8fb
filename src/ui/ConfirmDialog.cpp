#include "ui/ConfirmDialog.h"

namespace kdx {

void ConfirmDialog::SetTitle(const CString& title, int kind) {
  m_strTitle = title;
  m_nKind = kind;  // kept as given: only the top image tells kinds apart
}

bool ConfirmDialog::AddRow(const CString& label, COLORREF labelColour, const CString& value,
                           COLORREF valueColour) {
  const int row = m_nRowCount;
  if (!m_recLabels.SetString(row, label.str()) || !m_recValues.SetString(row, value.str()) ||
      !m_recLabels.SetNumber(row, labelColour) || !m_recValues.SetNumber(row, valueColour)) {
    return false;  // the row count is what the paint walks, so a partial row stays unseen
  }
  ++m_nRowCount;
  return true;
}

ConfirmRequest ConfirmDialog::BuildRequest() const {
  ConfirmRequest request{m_strTitle, m_nKind, {}, m_strImageDir};
  request.rows.reserve(static_cast<std::size_t>(m_nRowCount));
  for (int i = 0; i < m_nRowCount; ++i) {
    request.rows.push_back({CString(m_recLabels.GetStringView(i)), static_cast<COLORREF>(m_recLabels.GetNumber(i)),
                            CString(m_recValues.GetStringView(i)), static_cast<COLORREF>(m_recValues.GetNumber(i))});
  }
  return request;
}

int ConfirmDialog::DoModal() {
  // Held for the call, so a presenter replaced while the dialog is up stays alive.
  const auto presenter = GetConfirmPresenter();
  return presenter->Show(BuildRequest());
}

}  // namespace kdx
