// CComboBox: a drop-down list over QComboBox. Items keep the CP936 bytes the
// program gave, so GetLBText returns exactly what went in.
#include <QComboBox>
#include <QEvent>
#include <cstring>
#include <string>
#include <string_view>

#include "cp936.h"
#include "dispatch.h"
#include "handle.h"
#include "widgets.h"

namespace ui::detail {
namespace {

constexpr int kBytesRole = Qt::UserRole;

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// ASCII letters compare without case; the bytes of double-byte characters
// compare exactly (their trail bytes may look like letters).
std::string foldedKey(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(out[i]))) {
            ++i;
            continue;
        }
        out[i] = foldAscii(out[i]);
    }
    return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (prefix.size() > text.size()) return false;
    return foldedKey(text.substr(0, prefix.size())) == foldedKey(prefix);
}

}  // namespace

class ComboView final : public QComboBox {
public:
    ComboView(HWND self, DWORD style, QWidget* parent)
        : QComboBox(parent), m_self(self), m_sorted((style & CBS_SORT) != 0) {
        setEditable(false);
        setInsertPolicy(NoInsert);
        // Only the user's choices are changes the parent hears about.
        connect(this, &QComboBox::activated, this, [this](int) {
            if (CWnd* wnd = wndOf(m_self)) notifyCommand(wnd, CBN_SELCHANGE);
        });
        fitHeight();
    }

    bool sorted() const { return m_sorted; }

    std::string bytesAt(int index) const {
        return itemData(index, kBytesRole).toByteArray().toStdString();
    }

    // Inserting never selects: a new box shows nothing until told to.
    void insertBytes(int index, std::string_view bytes) {
        const int current = currentIndex();
        insertItem(index, decodeCp936(bytes), QByteArray(bytes.data(), qsizetype(bytes.size())));
        if (current < 0) setCurrentIndex(-1);
    }

    // Removing the selected item leaves no selection.
    void removeAt(int index) {
        const bool wasCurrent = index == currentIndex();
        removeItem(index);
        if (wasCurrent) setCurrentIndex(-1);
    }

    // Case-insensitive prefix search after `after`, wrapping round to it.
    int find(int after, std::string_view prefix) const {
        const int n = count();
        if (after < -1 || after >= n) after = -1;
        for (int k = 1; k <= n; ++k) {
            const int i = (after + k) % n;
            if (startsWithNoCase(bytesAt(i), prefix)) return i;
        }
        return CB_ERR;
    }

    // Where AddString puts an item in a sorted box: after its equals.
    int sortedPosition(std::string_view bytes) const {
        const std::string key = foldedKey(bytes);
        int i = 0;
        while (i < count() && foldedKey(bytesAt(i)) <= key) ++i;
        return i;
    }

protected:
    void changeEvent(QEvent* e) override {
        QComboBox::changeEvent(e);
        if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) fitHeight();
    }

private:
    // A drop-down list's window rectangle includes its dropped list; the box
    // itself stays one line high whatever height it is given.
    void fitHeight() { setMaximumHeight(sizeHint().height()); }

    HWND m_self;
    bool m_sorted;
};

QWidget* createComboWidget(HWND self, DWORD style, QWidget* parent) {
    return new ComboView(self, style, parent);  // owned by its Qt parent
}

}  // namespace ui::detail

// ---- CComboBox -------------------------------------------------------------------
namespace {

using ui::detail::ComboView;

ComboView* comboOf(const CComboBox* box) {
    return dynamic_cast<ComboView*>(ui::detail::widgetOf(box));
}

bool validIndex(const ComboView* combo, int index) {
    return combo && index >= 0 && index < combo->count();
}

}  // namespace

BOOL CComboBox::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create("ComboBox", nullptr, dwStyle, rect, pParentWnd, nID);
}

int CComboBox::GetCount() const {
    const ComboView* combo = comboOf(this);
    return combo ? combo->count() : 0;
}

int CComboBox::GetCurSel() const {
    const ComboView* combo = comboOf(this);
    return combo ? combo->currentIndex() : CB_ERR;
}

// -1 and an index out of range both clear the selection and answer CB_ERR:
// callers clear a combo box with -1.
int CComboBox::SetCurSel(int nSelect) {
    ComboView* combo = comboOf(this);
    if (!combo) return CB_ERR;
    if (!validIndex(combo, nSelect)) {
        combo->setCurrentIndex(-1);
        return CB_ERR;
    }
    combo->setCurrentIndex(nSelect);
    return nSelect;
}

int CComboBox::InsertString(int nIndex, LPCTSTR lpszString) {
    ComboView* combo = comboOf(this);
    if (!combo || !lpszString) return CB_ERR;
    if (nIndex == -1) nIndex = combo->count();
    if (nIndex < 0 || nIndex > combo->count()) return CB_ERR;
    combo->insertBytes(nIndex, lpszString);
    return nIndex;
}

int CComboBox::AddString(LPCTSTR lpszString) {
    ComboView* combo = comboOf(this);
    if (!combo || !lpszString) return CB_ERR;
    const int at = combo->sorted() ? combo->sortedPosition(lpszString) : combo->count();
    combo->insertBytes(at, lpszString);
    return at;
}

int CComboBox::DeleteString(UINT nIndex) {
    ComboView* combo = comboOf(this);
    if (!combo || nIndex >= UINT(combo->count())) return CB_ERR;
    combo->removeAt(int(nIndex));
    return combo->count();
}

void CComboBox::ResetContent() {
    if (ComboView* combo = comboOf(this)) combo->clear();
}

int CComboBox::GetLBText(int nIndex, LPTSTR lpszText) const {
    const ComboView* combo = comboOf(this);
    if (!lpszText || !validIndex(combo, nIndex)) return CB_ERR;
    const std::string bytes = combo->bytesAt(nIndex);
    std::memcpy(lpszText, bytes.c_str(), bytes.size() + 1);
    return int(bytes.size());
}

void CComboBox::GetLBText(int nIndex, CString& rString) const {
    const ComboView* combo = comboOf(this);
    rString = validIndex(combo, nIndex) ? CString(combo->bytesAt(nIndex)) : CString();
}

int CComboBox::GetLBTextLen(int nIndex) const {
    const ComboView* combo = comboOf(this);
    return validIndex(combo, nIndex) ? int(combo->bytesAt(nIndex).size()) : CB_ERR;
}

int CComboBox::SelectString(int nStartAfter, LPCTSTR lpszString) {
    ComboView* combo = comboOf(this);
    const int found = FindString(nStartAfter, lpszString);
    if (found == CB_ERR) return CB_ERR;
    combo->setCurrentIndex(found);
    return found;
}

int CComboBox::FindString(int nStartAfter, LPCTSTR lpszString) const {
    const ComboView* combo = comboOf(this);
    if (!combo || !lpszString) return CB_ERR;
    return combo->find(nStartAfter, lpszString);
}

void CComboBox::ShowDropDown(BOOL bShowIt) {
    ComboView* combo = comboOf(this);
    if (!combo) return;
    if (bShowIt)
        combo->showPopup();
    else
        combo->hidePopup();
}

IMPLEMENT_DYNAMIC(CComboBox, CWnd)
