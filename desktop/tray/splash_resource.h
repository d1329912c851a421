// Resource identifiers of the splash window, for the program and for resource
// scripts.
#pragma once

// The program's string resource "SplashTextColor": the colour of the splash
// texts when it holds an integer.
#define SplashTextColor 61001
