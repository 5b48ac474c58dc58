#include "app/ContentView.h"

#include "app/Appearance.h"
#include "app/SplashScreenView.h"
#include "model/AppLanguage.h"
#include "model/AppSettings.h"
#include "ui/DisclaimerView.h"
#include "ui/Look.h"
#include "ui/auto/AutoModeView.h"
#include "ui/help/HelpTopics.h"
#include "ui/help/HelpView.h"
#include "ui/manual/ManualModeView.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/SettingsWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEasingCurve>
#include <QLibraryInfo>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>
#include <QVariantAnimation>

namespace {

struct TabSpec {
    const char* symbol;
    TextPair title;
};

// In AppTab order.
const TabSpec tabSpecs[] = {
    {"person.crop.rectangle.stack", {"Manueller Modus", "Manual Mode"}},
    {"gearshape.2", {"Auto-Modus", "Auto Mode"}},
    {"gear", {"Einstellungen", "Settings"}},
    {"questionmark.circle", {"Hilfe", "Help"}},
};

struct TabPages {
    QWidget* manual;
    QWidget* automatic;
    QWidget* settings;
    HelpView* help;
};

// The screens of the four tabs, each made once for the life of the window.
TabPages makeTabPages(AppSettings& settings, QWidget* parent) {
    const auto& topics = helpTopics();
    return {
        new ManualModeView(parent),
        new AutoModeView(parent),
        new SettingsView(settings, parent),
        new HelpView(topics.isEmpty() ? std::nullopt : std::optional(topics.first().id), parent),
    };
}

// Qt's own texts (file dialog, standard buttons, line-edit menu) in the
// language of the program's: German from Qt's translations, else Qt's English.
void followLanguageInQtTexts() {
    static QTranslator* german = nullptr;
    const bool wanted = localizedText(QStringLiteral("de"), QStringLiteral("en")) == QLatin1String("de");
    if (wanted && german == nullptr) {
        auto* translator = new QTranslator(qApp);
        if (translator->load(QStringLiteral("qtbase_de"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(translator);
            german = translator;
        } else {
            delete translator; // not installed: Qt's texts stay English
        }
    } else if (!wanted && german != nullptr) {
        QCoreApplication::removeTranslator(german);
        delete german;
        german = nullptr;
    }
}

} // namespace

ContentView::ContentView(AppSettings& settings, SplashTimings timings, QWidget* parent)
    : QMainWindow(parent), m_settings(settings), m_timings(timings) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Velmora"));
    setMinimumSize(900, 600);
    // Before the screens are made: some take colours from the palette.
    applyAppearance();

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("mainTabs"));
    const TabPages pages = makeTabPages(settings, m_tabs);
    m_help = pages.help;
    for (QWidget* page : {pages.manual, pages.automatic, pages.settings, static_cast<QWidget*>(pages.help)}) {
        const TabSpec& tab = tabSpecs[m_tabs->count()];
        m_tabs->addTab(page, Look::symbolIcon(QString::fromLatin1(tab.symbol)), QString());
    }
    setCentralWidget(m_tabs);

    m_splash = new SplashScreenView(false, this);
    m_splash->placeOver(rect());

    retranslate();
    connect(&m_settings, &AppSettings::languageChanged, this, &ContentView::retranslate);
    connect(&m_settings, &AppSettings::settingsChanged, this, [this] {
        if (m_settings.appearance() != m_appliedAppearance) {
            applyAppearance();
        }
    });
}

ContentView::~ContentView() = default;

QWidget* ContentView::page(AppTab tab) const {
    return m_tabs->widget(static_cast<int>(tab));
}

void ContentView::selectTab(AppTab tab) {
    m_tabs->setCurrentIndex(static_cast<int>(tab));
}

void ContentView::showSettingsWindow() {
    SettingsWindow::showWindow();
}

void ContentView::applyAppearance() {
    m_appliedAppearance = m_settings.appearance();
    setAppAppearance(m_appliedAppearance);
}

void ContentView::retranslate() {
    followLanguageInQtTexts();
    for (int i = 0; i < m_tabs->count(); ++i) {
        m_tabs->setTabText(i, localizedText(tabSpecs[i].title));
    }
    if (m_splash != nullptr) {
        m_splash->update();
    }
}

void ContentView::scheduleSplashDismissal() {
    QTimer::singleShot(m_timings.hold, this, &ContentView::fadeOutSplash);
}

void ContentView::fadeOutSplash() {
    if (m_splash == nullptr) {
        return;
    }
    auto* fade = new QVariantAnimation(this);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    fade->setDuration(int(m_timings.fade.count()));
    fade->setEasingCurve(QEasingCurve::OutCubic);
    connect(fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        if (m_splash != nullptr) {
            m_splash->setOpacity(value.toReal());
        }
    });
    connect(fade, &QVariantAnimation::finished, this, [this] { delete m_splash.data(); });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void ContentView::presentDisclaimerIfNeeded() {
    if (m_disclaimer != nullptr || hasAcceptedDisclaimer()) {
        return;
    }
    m_disclaimer = new DisclaimerView(true, this);
    m_disclaimer->setAttribute(Qt::WA_DeleteOnClose);
    m_disclaimer->setWindowModality(Qt::WindowModal);
    connect(m_disclaimer, &DisclaimerView::closedWithoutAccepting, this, &ContentView::quitRequested);
    m_disclaimer->open();
    m_disclaimer->activateWindow();
}

void ContentView::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_shownOnce) {
        return;
    }
    m_shownOnce = true;
    if (m_splash != nullptr) {
        m_splash->placeOver(rect());
        scheduleSplashDismissal();
    }
    // Opened once the window is on screen, so that it sits over it.
    QTimer::singleShot(0, this, &ContentView::presentDisclaimerIfNeeded);
}

void ContentView::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (m_splash != nullptr) {
        m_splash->placeOver(rect());
    }
}

void ContentView::closeEvent(QCloseEvent* event) {
    event->accept();
    Q_EMIT quitRequested();
}
