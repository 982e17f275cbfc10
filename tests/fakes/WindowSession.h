// SPDX-License-Identifier: MIT
#pragma once

#include "ControlNames.h"
#include "MainWindow.h"
#include "fakes/FakeCodec.h"
#include "fakes/FakeDesktop.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

// The real window on a scripted platform, shown, with the list at hand.
struct WindowSession {
    std::shared_ptr<FakeCodec> codec = std::make_shared<FakeCodec>();
    FakeDesktop desktop;
    MainWindow form{codec, desktop};
    QListWidget* list = form.findChild<QListWidget*>(ControlNames::kPictureList);

    WindowSession() {
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            qWarning("the window was not exposed");
    }
    void press(const QString& button) {
        QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);
    }
    // Clicks a row where the user sees it.
    void clickRow(int row) {
        list->scrollToItem(list->item(row));
        const QRect place = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, place.center());
    }
    QStringList rows() const {
        QStringList texts;
        texts.reserve(list->count());
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    }
};
