#pragma once

// Steps that must all be taken even when one of them raises, such as stopping
// both sources: one that refuses must not keep the other running.

#include <functional>
#include <initializer_list>

// Runs every step in order; the first exception raised is raised again once
// all have run, later ones are dropped.
void RunEveryStep(std::initializer_list<std::function<void()>> steps);
