#include "ui/manual/StatusBadgeViewModel.h"

#include "QtPrinters.h"
#include "model/AppSettings.h"

#include <gtest/gtest.h>

TEST(StatusBadgeViewModelTest, TextsInBothLanguages) {
    const ProcessingStatus year = ProcessingStatus::yearFound(1987);
    // clang-format off
    const struct {
        ProcessingStatus status;
        std::optional<QString> genre;
        const char *color, *icon, *labelEn, *labelDe, *detailEn, *detailDe;
        bool popover;
    } cases[] = {
        {ProcessingStatus::pending(), {}, "secondary", "clock", "Pending", "Ausstehend", "Not yet processed.",
         "Noch nicht verarbeitet.", false},
        {ProcessingStatus::lookingUp(), {}, "blue", "magnifyingglass", "Searching\u2026", "Suche\u2026",
         "Looking up year\u2026", "Jahr wird ermittelt\u2026", false},
        {year, {}, "green", "checkmark.circle", "1987", "1987", "Year 1987 found.", "Jahr 1987 gefunden.", false},
        {year, QStringLiteral("House"), "green", "checkmark.circle", "1987 \u00b7 House", "1987 \u00b7 House",
         "Year 1987 found \u00b7 Genre: House", "Jahr 1987 gefunden \u00b7 Genre: House", false},
        {year, QStringLiteral(""), "green", "checkmark.circle", "1987 \u00b7 ", "1987 \u00b7 ",
         "Year 1987 found \u00b7 Genre: ", "Jahr 1987 gefunden \u00b7 Genre: ", false},
        {ProcessingStatus::yearNotFound(), {}, "orange", "questionmark.circle", "Not found", "Nicht gefunden",
         "No year could be found via MusicBrainz, AI, or existing tags.",
         "Es konnte kein Jahr über MusicBrainz, KI oder vorhandene Tags ermittelt werden.", true},
        {ProcessingStatus::alreadyHasDecade(QStringLiteral("80er")), {}, "secondary", "arrow.uturn.left.circle",
         "Skipped (80er)", "Übersprungen (80er)",
         "Skipped \u2013 the genre tag already contains the decade label \"80er\".",
         "Übersprungen \u2013 Genre-Tag enthält bereits das Jahrzehnt-Label \"80er\".", true},
        {ProcessingStatus::updated(), {}, "green", "checkmark.circle.fill", "Updated", "Aktualisiert",
         "Tag was successfully updated.", "Tag wurde erfolgreich aktualisiert.", false},
        {ProcessingStatus::error(QString()), {}, "red", "exclamationmark.circle.fill", "Error", "Fehler",
         "Write error: ", "Fehler beim Schreiben: ", true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.labelEn);
        EXPECT_EQ(colorName(c.status), QLatin1String(c.color));
        EXPECT_EQ(statusIcon(c.status), QLatin1String(c.icon));
        EXPECT_EQ(clickOpensPopover(c.status), c.popover);
        AppSettings::shared().setAppLanguage(AppLanguage::english);
        EXPECT_EQ(statusLabel(c.status, c.genre), QString::fromUtf8(c.labelEn));
        EXPECT_EQ(statusDetail(c.status, c.genre), QString::fromUtf8(c.detailEn));
        AppSettings::shared().setAppLanguage(AppLanguage::german);
        EXPECT_EQ(statusLabel(c.status, c.genre), QString::fromUtf8(c.labelDe));
        EXPECT_EQ(statusDetail(c.status, c.genre), QString::fromUtf8(c.detailDe));
    }
}
