#pragma once

// Resource identifiers of the window's executable (quelvar.rc).
#define QUELVAR_ICON 1
#define QUELVAR_GREEN_PICTURE 101
#define QUELVAR_RED_PICTURE 102
#define QUELVAR_RUBY_GRAPHITE_THEME 201
