#include "ui/settings/SettingsView.h"

#include "ui/FlowLayout.h"
#include "ui/Look.h"
#include "ui/settings/AIProviderPage.h"
#include "ui/settings/DataSourcesPage.h"
#include "ui/settings/InfoPage.h"
#include "ui/settings/ProcessingPage.h"
#include "ui/settings/SearchReplacePage.h"
#include "ui/settings/SettingsForm.h"

#include <QButtonGroup>
#include <QFrame>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QToolButton>

SettingsTabStrip::SettingsTabStrip(QWidget* parent) : QWidget(parent), m_group(new QButtonGroup(this)) {
    (new FlowLayout(this, 4, true))->setContentsMargins(8, 0, 8, 0);
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            Q_EMIT currentChanged(id);
        }
    });
}

void SettingsTabStrip::addTab(const QIcon& icon) {
    auto* tab = new QToolButton(this);
    tab->setIcon(icon);
    tab->setCheckable(true);
    tab->setAutoRaise(true);
    tab->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tab->setFocusPolicy(Qt::TabFocus);
    m_group->addButton(tab, count());
    layout()->addWidget(tab);
}

int SettingsTabStrip::count() const {
    return int(m_group->buttons().size());
}

int SettingsTabStrip::currentIndex() const {
    return m_group->checkedId();
}

void SettingsTabStrip::setCurrentIndex(int index) {
    if (QAbstractButton* tab = m_group->button(index)) {
        tab->setChecked(true);
    }
}

QString SettingsTabStrip::tabText(int index) const {
    const QAbstractButton* tab = m_group->button(index);
    return tab ? tab->text() : QString();
}

void SettingsTabStrip::setTabText(int index, const QString& text) {
    if (QAbstractButton* tab = m_group->button(index)) {
        tab->setText(text);
    }
}

QList<QAbstractButton*> SettingsTabStrip::buttons() const {
    return m_group->buttons();
}

SettingsView::SettingsView(AppSettings& settings, QWidget* parent)
    : QWidget(parent), m_vm(std::make_unique<SettingsViewModel>(settings)), m_tabs(new SettingsTabStrip),
      m_saveFailure(new QLabel),
      m_pages(new QStackedWidget) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 12, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_tabs);
    layout->addSpacing(8);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    layout->addWidget(divider);
    m_saveFailure->setTextFormat(Qt::PlainText);
    m_saveFailure->setWordWrap(true);
    m_saveFailure->setContentsMargins(12, 6, 12, 6);
    layout->addWidget(m_saveFailure);
    layout->addWidget(m_pages, 1);

    m_searchReplace = new SearchReplacePage(*m_vm);
    m_dataSources = new DataSourcesPage(*m_vm);
    m_aiProvider = new AIProviderPage(*m_vm);
    m_processing = new ProcessingPage(*m_vm);
    m_appearance = new AppearancePage(*m_vm);
    m_info = new InfoPage(*m_vm);
    m_pageList = {m_searchReplace, m_dataSources, m_aiProvider, m_processing, m_appearance, m_info};
    for (SettingsViewModel::SettingsTab tab : SettingsViewModel::allTabs()) {
        const int i = static_cast<int>(tab);
        m_tabs->addTab(Look::symbolIcon(SettingsViewModel::icon(tab)));
        auto* scroll = new QScrollArea;
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setWidget(m_pageList.at(i));
        m_pages->addWidget(scroll);
    }
    showRememberedTab();
    connect(m_tabs, &SettingsTabStrip::currentChanged, this, [this](int index) {
        m_pages->setCurrentIndex(index);
        m_vm->setSelectedTab(SettingsViewModel::allTabs().value(index));
    });
    connect(&settings, &AppSettings::settingsChanged, this, &SettingsView::refresh);
    connect(&settings, &AppSettings::saveFailureChanged, this, &SettingsView::refresh);
    connect(m_vm.get(), &SettingsViewModel::stateChanged, this, &SettingsView::refresh);
    refresh();
}

SettingsView::~SettingsView() {
    // Hidden while the screen state is still there: a table that is hidden
    // asks its model for header texts, and the models take them from that state.
    hide();
    // The screen state goes first: it stops its workers before the pages go.
    disconnect(m_vm.get(), nullptr, this, nullptr);
    m_vm.reset();
}

QList<QAbstractButton*> SettingsView::tabButtons() const {
    return m_tabs->buttons();
}

void SettingsView::showRememberedTab() {
    const int index = static_cast<int>(m_vm->selectedTab());
    const QSignalBlocker blocker(m_tabs);
    m_tabs->setCurrentIndex(index);
    m_pages->setCurrentIndex(index);
}

void SettingsView::refresh() {
    const AppLanguage language = m_vm->language();
    for (SettingsViewModel::SettingsTab tab : SettingsViewModel::allTabs()) {
        const QString title = SettingsViewModel::title(tab, language);
        if (m_tabs->tabText(static_cast<int>(tab)) != title) {
            m_tabs->setTabText(static_cast<int>(tab), title);
        }
    }
    const std::optional<QString> failure = m_vm->saveFailureText();
    m_saveFailure->setVisible(failure.has_value());
    SettingsForm::setText(m_saveFailure, failure.value_or(QString()));
    SettingsForm::colourResult(m_saveFailure);
    for (SettingsPage* page : m_pageList) {
        page->refresh();
    }
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showRememberedTab();
    m_vm->setVisible(true);
}

void SettingsView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_vm->setVisible(false);
}
