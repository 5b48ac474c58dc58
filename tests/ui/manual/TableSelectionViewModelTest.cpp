#include "ui/manual/TableSelectionViewModel.h"

#include "ManualModeFixture.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

TEST(TableSelectionViewModelTest, AllShownRowsHiddenChecksAndRowChanges) {
    ManualModeFixture fx;
    ManualModeViewModel vm(fx.services());
    ManualModeFixture::load(vm, fx.dir, 4, [](int i, MusicFile& f) {
        f.status = i < 2 ? ProcessingStatus::yearNotFound() : ProcessingStatus::pending();
    });
    TableSelectionViewModel sel(&vm);
    const auto id = [&](int i) {
        return vm.files().at(i).id;
    };
    sel.setSelected(id(3), true); // hidden by the switch below
    vm.setShowOnlyProblematic(true);
    EXPECT_FALSE(sel.allFilteredSelected());
    sel.setAllFilteredSelected(true);
    EXPECT_EQ(sel.selection(), (QSet<QUuid>{id(0), id(1), id(3)}));
    EXPECT_TRUE(sel.allFilteredSelected());
    sel.setAllFilteredSelected(false); // only the shown rows
    EXPECT_EQ(sel.selection(), QSet<QUuid>{id(3)});
    vm.setManualYear(1990, vm.files().at(3)); // a typed year keeps the checks
    EXPECT_EQ(sel.selection(), QSet<QUuid>{id(3)});
    vm.modifyFile(id(2), [](MusicFile&) {}); // a row changed by a run empties them
    EXPECT_TRUE(sel.selection().isEmpty());
    vm.setFilterText(QStringLiteral("nothing matches"));
    EXPECT_FALSE(sel.allFilteredSelected());
}
