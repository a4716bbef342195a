#include "app/loomcut_app.h"

CLoomcutApp theApp;

int main(int argc, char **argv) { return theApp.Run(argc, argv); }
