#include "ui/help/HelpTopics.h"

#include <initializer_list>

namespace {

HelpItem item(const char* de, const char* en, bool isNote = false, bool isTip = false) {
    return HelpItem{QUuid::createUuid(), {QString::fromUtf8(de), QString::fromUtf8(en)}, isNote, isTip};
}
HelpItem note(const char* de, const char* en) {
    return item(de, en, true, false);
}
HelpItem tip(const char* de, const char* en) {
    return item(de, en, false, true);
}

HelpSection section(const char* de, const char* en, std::initializer_list<HelpItem> items) {
    return HelpSection{
        QUuid::createUuid(), {QString::fromUtf8(de), QString::fromUtf8(en)}, QList<HelpItem>(items)};
}

HelpTopic topic(const char* icon, const char* de, const char* en,
                std::initializer_list<HelpSection> sections) {
    return HelpTopic{QUuid::createUuid(),
                     QString::fromLatin1(icon),
                     {QString::fromUtf8(de), QString::fromUtf8(en)},
                     QList<HelpSection>(sections)};
}

QList<HelpTopic> buildTopics() {
    return {
        topic(
            "flag.checkered", "Erster Start", "Getting Started",
            {
                section(
                    "Was macht Velmora?", "What Does Velmora Do?",
                    {
                        item("Velmora ermittelt für jeden Titel deines Musikordners das Jahr der ersten "
                             "Veröffentlichung und hängt das passende Jahrzehnt an das Genre an – aus "
                             "*House* wird zum Beispiel *House 80er*.",
                             "Velmora finds the year each track of your music folder was first released and "
                             "appends the matching decade to its genre – *House* becomes *House 80er*, for "
                             "example."),
                        note("Unterstützte Formate: MP3, FLAC, M4A, AAC, AIFF, WAV. OGG, OPUS und WMA können "
                             "gelesen, aber nicht beschrieben werden (in der Tabelle orange dargestellt).",
                             "Supported formats: MP3, FLAC, M4A, AAC, AIFF, WAV. OGG, OPUS and WMA can be "
                             "read "
                             "but not written (shown in orange in the table)."),
                    }),
                section(
                    "Schnellstart", "Quick Start",
                    {
                        item("1. Öffne **Einstellungen -> KI-Anbieter**, wähle einen Anbieter und trage bei "
                             "Bedarf deinen API-Schlüssel ein.",
                             "1. Open **Settings -> AI Provider**, choose a provider and enter your API key "
                             "if it needs one."),
                        item("2. Im Tab **Manueller Modus** wählst du einen Ordner, liest ihn mit **Scannen** "
                             "ein, lässt die Jahre suchen, prüfst sie und schreibst die markierten Zeilen.",
                             "2. In **Manual Mode** you choose a folder, read it with **Scan**, look up the "
                             "years, check them and write the checked rows."),
                        item(
                            "3. Im **Auto-Modus** bearbeitet Velmora einen ganzen Ordner in einem Durchlauf.",
                            "3. In **Auto Mode** Velmora processes a whole folder in one run."),
                        note(
                            "Genre-Ermittlung ist standardmäßig deaktiviert. Einschalten unter Einstellungen "
                            "-> Suchen/Ersetzen -> Genre ermitteln. Datenquellen konfigurieren unter "
                            "Einstellungen -> Datenquellen.",
                            "Genre lookup is disabled by default. Enable it under Settings -> Search/Replace "
                            "-> Look up genre. Configure data sources under Settings -> Data Sources."),
                    }),
            }),
        topic(
            "person.crop.rectangle.stack", "Manueller Modus", "Manual Mode",
            {
                section(
                    "Dateien laden", "Loading Files",
                    {
                        item("Mit **Verzeichnis** bestimmst du den Musikordner; **Scannen** liest ihn samt "
                             "Unterordnern ein.",
                             "**Directory** picks the music folder; **Scan** reads it including its "
                             "subfolders."),
                        item("Beim Einlesen werden die Tags jeder Datei gelesen; der Fortschritt steht "
                             "rechts in der Filterleiste.",
                             "Scanning reads the tags of every file; the progress is shown at the right of "
                             "the filter bar."),
                        tip("Du kannst Ordner oder Dateien auch direkt aus dem Dateimanager in das Fenster "
                            "ziehen.",
                            "You can also drag folders or files straight from the file manager into the "
                            "window."),
                        item("Dateien, die schon ein Jahrzehnt im Genre tragen, werden als solche markiert "
                             "und bei der Suche übersprungen.",
                             "Files whose genre already carries a decade are marked as such and left out of "
                             "the lookup."),
                        note(
                            "Nur Dateien mit unterstützter Endung werden angezeigt; andere Dateien im Ordner "
                            "bleiben unberührt.",
                            "Only files with a supported extension are listed; other files in the folder "
                            "are left alone."),
                    }),
                section(
                    "Tabelle", "Table",
                    {
                        item("Neben dem Häkchen zeigt die Tabelle die Spalten **Titel**, **Interpret**, "
                             "**Album**, **Jahr**, **Jahrzehnt**, **Genre**, **Format**, **Status** und "
                             "**Verzeichnis**.",
                             "Next to the tick the table shows the columns **Title**, **Artist**, **Album**, "
                             "**Year**, **Decade**, **Genre**, **Format**, **Status** and **Directory**."),
                        item("Ein Klick auf einen Spaltenkopf sortiert die Tabelle, ein zweiter Klick kehrt "
                             "die Reihenfolge um.",
                             "Clicking a column header sorts the table; a second click reverses the order."),
                        item("Nur Zeilen mit gesetztem Häkchen werden beim Schreiben berücksichtigt.",
                             "Only rows with a tick are written."),
                        item("Im Kontextmenü einer Zeile gibst du das Jahr von Hand ein oder wählst die "
                             "Zeile an oder ab.",
                             "A row's context menu offers entering the year by hand and checking or "
                             "unchecking the row."),
                        tip("Ein Doppelklick auf ein \"Nicht gefunden\"-Abzeichen öffnet direkt die "
                            "Jahreseingabe für diese Datei.",
                            "Double-clicking a \"Not found\" badge opens the year editor for that file "
                            "right away."),
                    }),
                section(
                    "Filterleiste", "Filter Bar",
                    {
                        item("Das Suchfeld filtert die Tabelle nach Titel, Interpret, Album und Genre.",
                             "The search field filters the table by title, artist, album and genre."),
                        item("**Nur Probleme** zeigt nur Dateien ohne gefundenes Jahr oder mit Fehler.",
                             "**Problems only** shows only files without a found year or with an error."),
                        item(
                            "Das Kästchen **Alle** links in der Filterleiste setzt oder entfernt die Häkchen "
                            "aller angezeigten Zeilen; bei gesetztem Filter sind das nur die gefilterten.",
                            "The **All** box at the left of the filter bar sets or clears the ticks of every "
                            "row shown; with a filter set, only of the rows the filter shows."),
                        item(
                            "Der Filter ändert nur die Anzeige; markierte, aber ausgeblendete Zeilen bleiben "
                            "markiert.",
                            "The filter only changes what is shown; ticked rows that are hidden stay "
                            "ticked."),
                    }),
                section(
                    "Toolbar-Buttons", "Toolbar Buttons",
                    {
                        item("**Scannen**: liest den gewählten Ordner erneut ein.",
                             "**Scan**: reads the chosen folder again."),
                        item("**Ermittlung starten**: fragt für jede Datei ohne Jahrzehnt die Datenquellen "
                             "ab, mehrere Dateien gleichzeitig.",
                             "**Start Lookup**: asks the data sources for every file without a decade, "
                             "several files at once."),
                        tip("Eine laufende Suche lässt sich jederzeit abbrechen; bereits gefundene Jahre "
                            "bleiben erhalten.",
                            "A running lookup can be cancelled at any time; years already found are kept."),
                        item("**N Problem(e)** öffnet den Dialog zum Auflösen der Dateien ohne Jahr.",
                             "**N Problem(s)** opens the dialog for resolving files without a year."),
                        item("**Ausgewählte aktualisieren**: schreibt das Genre mit Jahrzehnt in alle "
                             "markierten Dateien mit Jahr.",
                             "**Update Selected**: writes the genre with its decade into every ticked file "
                             "that has a year."),
                        tip("Rückgängig: erscheint nach einem Schreibvorgang. Setzt Genre-Tags aller zuletzt "
                            "aktualisierten Dateien auf den Stand vor dem Schreiben zurück. Nur bis zum "
                            "nächsten App-Start verfügbar.",
                            "Undo: appears after a write operation. Restores the genre tags of all recently "
                            "updated files to their state before writing. Only available until the next app "
                            "launch."),
                    }),
                section(
                    "Statusleiste", "Status Bar",
                    {
                        item("Die Statusleiste zählt die Dateien gesamt, mit gefundenem Jahr, ohne Jahr, mit "
                             "erkanntem Genre, aktualisierte, übersprungene und fehlerhafte sowie die "
                             "ausgewählten; Dateien, die nicht gelesen werden konnten, nennt sie mit Grund.",
                             "The status bar counts all files, those with a found year, without one, with a "
                             "found genre, updated, skipped and failed ones, and the selected ones; files "
                             "that could not be read are named with the reason."),
                        note("Status-Werte: Ausstehend, Suche…, das gefundene Jahr, Nicht gefunden, "
                             "Übersprungen (mit Jahrzehnt), Aktualisiert und Fehler.",
                             "Status values: Pending, Searching…, the year found, Not found, Skipped (with "
                             "the decade), Updated and Error."),
                    }),
            }),
        topic(
            "gearshape.2", "Auto-Modus", "Auto Mode",
            {
                section(
                    "Funktionsweise", "How It Works",
                    {
                        item("Der Auto-Modus liest einen Ordner, sucht für jede Datei das Jahr und schreibt "
                             "das Genre mit Jahrzehnt sofort zurück.",
                             "Auto mode reads a folder, looks up the year of every file and writes the genre "
                             "with its decade back at once."),
                        item("Es werden so viele Dateien gleichzeitig bearbeitet, wie unter Verarbeitung -> "
                             "Gleichzeitige Anfragen eingestellt ist.",
                             "As many files are handled at once as set under Processing -> Concurrent "
                             "requests."),
                        note("Dateien, deren Genre bereits ein Jahrzehnt enthält, werden übersprungen.",
                             "Files whose genre already contains a decade are skipped."),
                    }),
                section(
                    "Bedienung", "Usage",
                    {
                        item("Wähle einen Ordner und klicke auf **Starten**; **Abbrechen** beendet den "
                             "Durchlauf nach den Dateien, die gerade bearbeitet werden.",
                             "Choose a folder and click **Start**; **Cancel** ends the run after the files "
                             "being handled right now."),
                        tip("Mit **Rückgängig** setzt du alle Schreibvorgänge des letzten Durchlaufs zurück.",
                            "**Undo** reverts every write of the last run."),
                        tip("Lege vor dem ersten Durchlauf ein Backup an und teste mit einem kleinen Ordner.",
                            "Make a backup before the first run and try a small folder first."),
                    }),
                section(
                    "Fortschritt & Log", "Progress & Log",
                    {
                        item("Zwei Balken zeigen den Gesamtfortschritt und die zuletzt bearbeitete Datei.",
                             "Two bars show the overall progress and the file handled last."),
                        item("Die Statistik zählt aktualisierte, übersprungene und problematische Dateien.",
                             "The statistics count updated, skipped and problem files."),
                        item("Das Log führt jede Datei mit ihrem Ergebnis auf, farbig nach Art.",
                             "The log lists every file with its outcome, coloured by kind."),
                    }),
                section("Abschluss", "Completion",
                        {
                            item("Am Ende zeigt ein Hinweis, ob alles geklappt hat oder Probleme offen sind.",
                                 "At the end a banner shows whether everything worked or problems remain."),
                            item("Mit **N Probleme überprüfen** trägst du fehlende Jahre von Hand nach.",
                                 "**Review N problem(s)** lets you fill in missing years by hand."),
                        }),
            }),
        topic(
            "exclamationmark.triangle", "Probleme auflösen", "Resolve Problems",
            {
                section(
                    "Wann erscheint der Dialog?", "When Does the Dialog Appear?",
                    {
                        item("Wenn für Dateien kein Jahr gefunden wurde oder ein Fehler auftrat.",
                             "When no year was found for files or an error occurred."),
                        item("Im Auto-Modus öffnest du ihn nach dem Durchlauf, im Manuellen Modus über den "
                             "Button **N Problem(e)**.",
                             "In Auto mode you open it after the run, in Manual mode with the "
                             "**N Problem(s)** button."),
                    }),
                section(
                    "Bedienung", "Usage",
                    {
                        item("Die Tabelle listet die betroffenen Dateien mit Titel, Interpret und Format.",
                             "The table lists the affected files with title, artist and format."),
                        item(
                            "Ein Klick auf **Jahr eingeben…** in einer Zeile öffnet die Jahreseingabe für "
                            "diese Datei.",
                            "A click on **Enter year…** in a row opens the year editor for that file."),
                        tip("Statt eines genauen Jahres kannst du auch nur das Jahrzehnt wählen.",
                            "Instead of an exact year you can pick just the decade."),
                        item("**Überspringen** lässt die Datei ohne Jahr, **Alle überspringen** leert die "
                             "Liste.",
                             "**Skip** leaves the file without a year, **Skip all** empties the list."),
                        item("Im Auto-Modus schreibt **Ausgewählte aktualisieren** die Dateien mit Jahr in "
                             "einem eigenen Durchlauf, den **Rückgängig** wieder aufhebt.",
                             "In Auto mode **Update Selected** writes the files that have a year in a run "
                             "of its own, which **Undo** restores."),
                    }),
            }),
        topic(
            "gear", "Einstellungen", "Settings",
            {
                section(
                    "KI-Anbieter", "AI Provider",
                    {
                        item("Wähle Claude, ChatGPT, Ollama, LM Studio oder einen eigenen Server.",
                             "Choose Claude, ChatGPT, Ollama, LM Studio or a server of your own."),
                        note("Die Cloud-Anbieter brauchen deinen API-Schlüssel; lokale Server brauchen "
                             "keinen.",
                             "The cloud providers need your API key; local servers need none."),
                        tip("**Verbindung testen** prüft Schlüssel und Adresse, bevor du einen Ordner "
                            "bearbeitest.",
                            "**Test Connection** checks key and address before you process a folder."),
                        item("Ist kein Modell eingetragen, nimmt Velmora das Standardmodell des Anbieters.",
                             "When no model is entered, Velmora uses the provider's default model."),
                    }),
                section(
                    "Datenquellen", "Data Sources",
                    {
                        item("MusicBrainz ist kostenlos und standardmäßig eingeschaltet.",
                             "MusicBrainz is free and switched on by default."),
                        item("Ein vorhandenes Jahr-Tag kann ohne weitere Suche übernommen werden.",
                             "An existing year tag can be taken without any further lookup."),
                        note("Spotify: Registriere einmalig und kostenlos eine eigene App auf "
                             "[developer.spotify.com](https://developer.spotify.com/dashboard) und trage "
                             "Client ID und Client Secret in den Einstellungen ein.",
                             "Spotify: register an app of your own once, free of charge, at "
                             "[developer.spotify.com](https://developer.spotify.com/dashboard) and enter "
                             "Client ID and Client Secret in the settings."),
                        note("Last.fm liefert nur Genres und braucht einen eigenen API-Schlüssel.",
                             "Last.fm supplies genres only and needs an API key of your own."),
                        note("Discogs liefert nur Genres und braucht keinen eigenen Schlüssel.",
                             "Discogs supplies genres only and needs no key of your own."),
                        note("Je mehr Quellen eingeschaltet sind, desto länger dauert die Suche pro Datei.",
                             "The more sources are switched on, the longer the lookup of each file takes."),
                    }),
                section(
                    "Suchen/Ersetzen – Jahrzehnt-Tabelle", "Search/Replace – Decade Table",
                    {
                        item("Jede Regel ordnet einen Jahresbereich einer Bezeichnung zu, etwa 1980–1989 "
                             "-> 80er.",
                             "Each rule maps a range of years to a label, such as 1980–1989 -> 80er."),
                        note("Die erste passende Regel der Tabelle gilt; Überschneidungen werden angezeigt.",
                             "The first matching rule of the table wins; overlaps are pointed out."),
                        item("Regeln lassen sich als JSON-Datei exportieren und wieder importieren.",
                             "Rules can be exported to a JSON file and imported again."),
                    }),
                section(
                    "Suchen/Ersetzen – Genre-Einstellungen", "Search/Replace – Genre Settings",
                    {
                        note("Genres werden nur gesucht, wenn **Genre ermitteln** eingeschaltet ist.",
                             "Genres are looked up only when **Look up genre** is switched on."),
                        item("**Vorhandenes Genre überschreiben** ersetzt das Genre, statt das Jahrzehnt "
                             "anzuhängen.",
                             "**Overwrite existing genre** replaces the genre instead of appending the "
                             "decade."),
                        tip("Genre-Zuordnungen vereinheitlichen Schreibweisen, etwa *Hip-Hop* -> *Hip Hop*.",
                            "Genre mappings unify spellings, such as *Hip-Hop* -> *Hip Hop*."),
                        item("Zuordnungen werden ohne Beachtung der Groß-/Kleinschreibung verglichen.",
                             "Mappings are matched regardless of upper and lower case."),
                        tip("Mit **Neue Genre automatisch hinzufügen** landen unbekannte Genres in der "
                            "Tabelle, wo du sie anpassen kannst.",
                            "With **Auto-add new genres** unknown genres land in the table, where "
                            "you can adjust them."),
                        item("Die Zuordnungen lassen sich als JSON-Datei exportieren und importieren.",
                             "The mappings can be exported to and imported from a JSON file."),
                        item("**Standard wiederherstellen** lädt die eingebaute Liste erneut.",
                             "**Restore Defaults** loads the built-in list again."),
                    }),
                section(
                    "Verarbeitung", "Processing",
                    {
                        item("Gleichzeitige Anfragen: wie viele Dateien parallel an die KI oder MusicBrainz "
                             "gesendet werden. Standard: 3.",
                             "Concurrent requests: how many files are sent in parallel to the AI or "
                             "MusicBrainz. Default: 3."),
                        note("Zu viele gleichzeitige Anfragen können zu Sperren oder Fehlern beim Anbieter "
                             "führen.",
                             "Too many concurrent requests can lead to blocks or errors at the provider."),
                        item("Timeout: maximale Wartezeit in Sekunden pro Anfrage bevor sie als "
                             "fehlgeschlagen gilt. Standard: 30 Sekunden.",
                             "Timeout: maximum wait time in seconds per request before it is considered "
                             "failed. Default: 30 seconds."),
                    }),
                section(
                    "Tag-Reparatur", "Tag Repair",
                    {
                        item("Manche Dateien tragen Interpret und Titel vertauscht oder zusammen im Titel.",
                             "Some files carry artist and title swapped or both in the title."),
                        tip("Mit **Defekte Tag-Struktur reparieren** werden die beim Lesen korrigierten "
                            "Angaben zusammen mit dem Genre geschrieben.",
                            "With **Repair broken tag structure** the values corrected on reading are "
                            "written together with the genre."),
                        item("Ohne diese Option schreibt Velmora nur das Genre.",
                             "Without this option Velmora writes the genre only."),
                    }),
            }),
        topic(
            "magnifyingglass.circle", "Wie wird das Jahr ermittelt?", "How Is the Year Determined?",
            {
                section(
                    "Reihenfolge der Quellen", "Source Order",
                    {
                        item("1. Vorhandenes Jahr-Tag: wenn aktiviert und das Tag einen plausiblen Wert "
                             "enthält, wird dieser direkt verwendet.",
                             "1. Existing year tag: if enabled and the tag contains a plausible value, it is "
                             "used directly."),
                        item(
                            "2. MusicBrainz: Suche nach Titel und Interpret. Liefert Jahr und ggf. Genre.",
                            "2. MusicBrainz: search by title and artist. Returns year and optionally genre."),
                        item(
                            "3. Spotify: wenn eingeschaltet, wird das Erscheinungsjahr des Albums verwendet.",
                            "3. Spotify: if switched on, the album's release year is used."),
                        item("4. Genre-Quellen: Discogs und Last.fm liefern, falls eingeschaltet, nur das "
                             "Genre.",
                             "4. Genre sources: Discogs and Last.fm, if switched on, supply the genre only."),
                        item(
                            "5. KI-Anbieter: wenn alle Datenbanken kein Jahr liefern, wird der konfigurierte "
                            "KI-Anbieter befragt.",
                            "5. AI provider: if all databases return no year, the configured AI provider is "
                            "queried."),
                        tip("Bleibt die Suche erfolglos, fragt Velmora MusicBrainz und die KI ein zweites "
                            "Mal "
                            "mit dem bereinigten Titel.",
                            "When the lookup finds nothing, Velmora asks MusicBrainz and the AI once more "
                            "with the cleaned title."),
                    }),
                section(
                    "Genre-Ermittlung", "Genre Lookup",
                    {
                        item("Das Genre wird nur gesucht, wenn die Genre-Ermittlung eingeschaltet ist.",
                             "The genre is looked up only when genre lookup is switched on."),
                        item("Gefragt werden MusicBrainz, Discogs, Spotify, Last.fm und zuletzt die KI.",
                             "MusicBrainz, Discogs, Spotify, Last.fm and finally the AI are asked."),
                        note("Ein gefundenes Genre läuft durch die Genre-Zuordnungen, bevor es geschrieben "
                             "wird.",
                             "A found genre passes through the genre mappings before it is written."),
                    }),
                section(
                    "Titelbereinigung", "Title Cleanup",
                    {
                        item("Entfernt werden Zusätze wie *(Original Mix)*, *(Remastered)*, *feat. …* und "
                             "Angaben in eckigen Klammern.",
                             "Additions such as *(Original Mix)*, *(Remastered)*, *feat. …* and text in "
                             "square brackets are removed."),
                        tip("Die Bereinigung betrifft nur die Datenbanksuche – der Titel in der Datei selbst "
                            "wird nicht verändert.",
                            "The cleanup only affects the database search – the title in the file itself is "
                            "not changed."),
                    }),
            }),
        topic(
            "questionmark.circle", "Häufige Fragen", "Frequently Asked Questions",
            {
                section(
                    "Neue Tags sind in der DJ-Software nicht sichtbar", "New Tags Not Visible in DJ Software",
                    {
                        tip("Die meisten DJ-Programme speichern Tags in ihrer eigenen Bibliothek. Lies die "
                            "Dateien dort neu ein (Tags erneut lesen), damit die neuen Genres erscheinen.",
                            "Most DJ programs keep tags in their own library. Re-read the files there "
                            "(reload tags) so the new genres show up."),
                    }),
                section(
                    "Eine Datei hat Status \"Nicht gefunden\"", "A File Has Status \"Not Found\"",
                    {
                        item("Keine Quelle kannte den Titel; prüfe Schreibweise von Titel und Interpret im "
                             "Tag.",
                             "No source knew the track; check the spelling of title and artist in the tag."),
                        item("Trage das Jahr über den Problem-Dialog oder die Jahreseingabe von Hand ein.",
                             "Enter the year by hand through the problem dialog or the year editor."),
                    }),
                section("Eine Datei wird immer übersprungen", "A File Is Always Skipped",
                        {
                            item("Ihr Genre enthält bereits eine Jahrzehnt-Bezeichnung aus deiner Tabelle.",
                                 "Its genre already contains a decade label from your table."),
                            note("Entferne die Bezeichnung aus dem Genre, wenn die Datei neu bewertet werden "
                                 "soll.",
                                 "Remove the label from the genre if the file should be assessed again."),
                        }),
                section(
                    "OGG/OPUS/WMA werden orange dargestellt", "OGG/OPUS/WMA Shown in Orange",
                    {
                        item(
                            "Diese Formate kann Velmora lesen, aber nicht beschreiben; wandle sie bei Bedarf "
                            "in ein beschreibbares Format um.",
                            "Velmora can read these formats but not write them; convert them to a writable "
                            "format if needed."),
                    }),
                section(
                    "Verbindungstest schlägt fehl", "Connection Test Fails",
                    {
                        item("Prüfe API-Schlüssel, Adresse des Servers und deine Internetverbindung.",
                             "Check the API key, the server address and your internet connection."),
                        note("Lokale Server wie Ollama oder LM Studio müssen laufen und ein Modell geladen "
                             "haben.",
                             "Local servers such as Ollama or LM Studio must be running and have a model "
                             "loaded."),
                    }),
                section(
                    "Genre-Zuordnungen werden nicht angewendet", "Genre Mappings Not Applied",
                    {
                        item("Prüfe, ob **Genre-Zuordnungen anwenden** eingeschaltet ist.",
                             "Check that **Apply genre mappings** is switched on."),
                        item("Die Quelle einer Zuordnung muss dem gefundenen Genre genau entsprechen; nur "
                             "Groß- und Kleinschreibung spielen keine Rolle.",
                             "A mapping's source must match the found genre exactly; only upper and lower "
                             "case do not matter."),
                    }),
            }),
    };
}

} // namespace

const QList<HelpTopic>& helpTopics() {
    static const QList<HelpTopic> topics = buildTopics();
    return topics;
}
