#pragma once

#include <string>

// Numbers written for people and other programs to read back (the journal, its CSV export, the
// readings log): the fewest digits that read back as the very same value of the number's own
// type, so a typed 101.325 kept in a 32-bit float is written "101.325", not the digits of the
// double it widens to.
//
// Plain decimal for magnitudes from 1e-15 up to below 1e21 ("0.0009", "1500000", never
// "9e-04"); beyond them the exponent form ("1e-45", "3.4028235e+38"), which any reader takes
// too. Negative zero keeps its sign ("-0"). Not-a-number and the infinities come out as
// "nan", "inf" and "-inf": whoever writes them decides what stands in their place.
// `decimal_mark` stands where the full stop would.
std::string ShortestDecimal(float value, char decimal_mark = '.');
std::string ShortestDecimal(double value, char decimal_mark = '.');
