#include <syslog.h>

#include <QStringList>
#include <utility>

#include "cp936.h"
#include "fonts.h"
#include "report.h"
#include "ui/family_qt.h"

struct CFont::Impl {
    QFont font;
    bool created = false;
};

CFont::CFont() : m_impl(std::make_unique<Impl>()) {}
CFont::~CFont() = default;

BOOL CFont::CreatePointFont(int nPointSize, LPCTSTR lpszFaceName, void*) {
    if (m_impl->created || nPointSize <= 0) return FALSE;
    const CString face(lpszFaceName ? lpszFaceName : "");
    QFont font(ui::detail::mapFaceName(ui::detail::decodeCp936(face.str())));
    font.setPointSizeF(nPointSize / 10.0);
    m_impl->font = font;
    m_impl->created = true;
    return TRUE;
}

BOOL CFont::DeleteObject() {
    if (!m_impl->created) return FALSE;
    *m_impl = Impl();
    return TRUE;
}

BOOL CFont::IsCreated() const {
    return m_impl->created;
}

namespace ui::detail {

struct WndAccess {
    static CFont::Impl& impl(const CFont& f) { return *f.m_impl; }
};

QFont qfontOf(const CFont* font) {
    return font && font->IsCreated() ? WndAccess::impl(*font).font : QFont();
}

void setQFont(CFont& font, const QFont& qfont) {
    auto& impl = WndAccess::impl(font);
    impl.font = qfont;
    impl.created = true;
}

namespace {
// Boxes instead of characters say nothing; this says why, once, on the
// terminal and in the platform log.
void reportNoChineseFont() {
    static bool s_reported = false;
    if (std::exchange(s_reported, true)) return;
    reportLine(LOG_WARNING, QStringLiteral("no installed font shows Chinese, so the program's "
                                           "texts show as boxes; install fonts-noto-cjk (or "
                                           "fonts-wqy-zenhei)"));
}
}  // namespace

QString mapFaceName(const QString& face) {
    static const QStringList dialogFaces = {QStringLiteral("宋体"), QStringLiteral("SimSun"),
                                            QStringLiteral("MS Shell Dlg"),
                                            QStringLiteral("MS Shell Dlg 2")};
    if (!face.isEmpty() && !dialogFaces.contains(face, Qt::CaseInsensitive)) return face;
    const QString family = chineseFamily();
    if (family.isEmpty()) reportNoChineseFont();
    return family.isEmpty() ? QFont().family() : family;
}

}  // namespace ui::detail
