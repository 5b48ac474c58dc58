#include "ui/SymbolIcon.h"

#include <QApplication>
#include <QHash>
#include <QStyle>

namespace {

struct ThemeIcon {
    const char* theme;
    QStyle::StandardPixmap fallback;
};

} // namespace

QIcon symbolIcon(const QString& symbolName) {
    static const QHash<QString, ThemeIcon> map{
        {QStringLiteral("person.crop.rectangle.stack"),
         {"view-list-details", QStyle::SP_FileDialogDetailedView}},
        {QStringLiteral("gearshape.2"), {"system-run", QStyle::SP_BrowserReload}},
        {QStringLiteral("gear"), {"preferences-system", QStyle::SP_FileDialogInfoView}},
        {QStringLiteral("questionmark.circle"), {"help-contents", QStyle::SP_MessageBoxQuestion}},
        {QStringLiteral("flag.checkered"), {"go-home", QStyle::SP_DirHomeIcon}},
        {QStringLiteral("exclamationmark.triangle"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("magnifyingglass.circle"), {"edit-find", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("info.circle.fill"), {"dialog-information", QStyle::SP_MessageBoxInformation}},
        {QStringLiteral("lightbulb.fill"), {"help-hint", QStyle::SP_DialogHelpButton}},
        {QStringLiteral("book.pages"), {"help-contents", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("exclamationmark.shield.fill"), {"security-medium", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("externaldrive.fill"), {"drive-harddisk", QStyle::SP_DriveHDIcon}},
        {QStringLiteral("shield.slash.fill"), {"security-low", QStyle::SP_MessageBoxCritical}},
        {QStringLiteral("network"), {"network-workgroup", QStyle::SP_DriveNetIcon}},
        {QStringLiteral("c.circle.fill"), {"document-properties", QStyle::SP_FileIcon}},
        {QStringLiteral("folder"), {"folder", QStyle::SP_DirIcon}},
        {QStringLiteral("play.circle.fill"), {"media-playback-start", QStyle::SP_MediaPlay}},
        {QStringLiteral("stop.circle.fill"), {"media-playback-stop", QStyle::SP_MediaStop}},
        {QStringLiteral("info.circle"), {"dialog-information", QStyle::SP_MessageBoxInformation}},
        {QStringLiteral("checkmark.circle.fill"), {"emblem-ok", QStyle::SP_DialogApplyButton}},
        {QStringLiteral("arrow.forward.circle.fill"), {"go-next", QStyle::SP_ArrowForward}},
        {QStringLiteral("exclamationmark.circle.fill"), {"dialog-error", QStyle::SP_MessageBoxCritical}},
        {QStringLiteral("exclamationmark.circle"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("exclamationmark.triangle.fill"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("arrow.uturn.backward"), {"edit-undo", QStyle::SP_ArrowBack}},
        // The settings screen.
        {QStringLiteral("arrow.left.arrow.right"), {"edit-find-replace", QStyle::SP_FileDialogDetailedView}},
        {QStringLiteral("globe"), {"applications-internet", QStyle::SP_DriveNetIcon}},
        {QStringLiteral("cpu"), {"cpu", QStyle::SP_ComputerIcon}},
        {QStringLiteral("slider.horizontal.3"), {"configure", QStyle::SP_FileDialogListView}},
        {QStringLiteral("paintbrush"), {"preferences-desktop-theme", QStyle::SP_DesktopIcon}},
        {QStringLiteral("plus.circle.fill"), {"list-add", QStyle::SP_FileDialogNewFolder}},
        {QStringLiteral("minus.circle.fill"), {"list-remove", QStyle::SP_DialogDiscardButton}},
        {QStringLiteral("square.and.arrow.up"), {"document-export", QStyle::SP_DialogSaveButton}},
        {QStringLiteral("square.and.arrow.down"), {"document-import", QStyle::SP_DialogOpenButton}},
        {QStringLiteral("xmark.circle.fill"), {"edit-clear", QStyle::SP_LineEditClearButton}},
        {QStringLiteral("arrow.clockwise"), {"view-refresh", QStyle::SP_BrowserReload}},
        {QStringLiteral("xmark.octagon.fill"), {"dialog-error", QStyle::SP_MessageBoxCritical}},
        {QStringLiteral("doc.text.magnifyingglass"), {"document-open", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("trash"), {"edit-delete", QStyle::SP_TrashIcon}},
        {QStringLiteral("arrow.up.right"), {"go-next", QStyle::SP_ArrowRight}},
        {QStringLiteral("exclamationmark.shield"), {"security-medium", QStyle::SP_MessageBoxWarning}},
        // The Manual mode screen.
        {QStringLiteral("magnifyingglass"), {"edit-find", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("square.and.pencil"), {"document-save", QStyle::SP_DialogSaveButton}},
        {QStringLiteral("xmark.circle"), {"process-stop", QStyle::SP_DialogCancelButton}},
        {QStringLiteral("clock"), {"appointment-soon", QStyle::SP_BrowserReload}},
        {QStringLiteral("checkmark.circle"), {"emblem-default", QStyle::SP_DialogApplyButton}},
        {QStringLiteral("arrow.uturn.left.circle"), {"go-previous", QStyle::SP_ArrowLeft}},
        {QStringLiteral("line.3.horizontal.decrease.circle"), {"view-filter", QStyle::SP_FileDialogListView}},
        {QStringLiteral("arrow.down.doc"), {"document-import", QStyle::SP_ArrowDown}},
        {QStringLiteral("music.note.list"), {"audio-x-generic", QStyle::SP_MediaVolume}},
        {QStringLiteral("calendar.badge.plus"), {"x-office-calendar", QStyle::SP_FileDialogDetailedView}},
        {QStringLiteral("arrow.right"), {"go-next", QStyle::SP_ArrowRight}},
    };
    const auto found = map.constFind(symbolName);
    if (found == map.constEnd()) {
        return {};
    }
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(found->theme));
    return themed.isNull() ? QApplication::style()->standardIcon(found->fallback) : themed;
}
