// The Ostra sensor's data source: one instance per TWAIN application that opened it.
#pragma once

#include "source/twpp/source_from_this.h"

class MySource : public Twpp::SourceFromThis<MySource> {
public:
    MySource() = default;
    ~MySource() override = default;
};
