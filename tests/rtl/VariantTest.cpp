#include <gtest/gtest.h>

#include <type_traits>

#include "rtl/Variant.h"
#include "tests/rtl/RtlTestSupport.h"

namespace lanqi {
namespace {

class VariantTest : public PinnedFormatSettings {};

TEST_F(VariantTest, KindsFromConstruction) {
  EXPECT_EQ(VarType(Variant()), varEmpty);
  EXPECT_TRUE(VarIsEmpty(Unassigned()));
  EXPECT_EQ(VarType(Null()), varNull);
  EXPECT_TRUE(VarIsNull(Null()));
  EXPECT_FALSE(VarIsNull(Variant()));  // unassigned is not null
  EXPECT_TRUE(VarIsClear(Variant()) && VarIsClear(Null()));
  EXPECT_EQ(VarType(Variant(true)), varBoolean);
  EXPECT_EQ(VarType(Variant(42)), varInteger);
  EXPECT_EQ(VarType(Variant(int16_t{42})), varInteger);
  EXPECT_EQ(VarType(Variant(int64_t{42})), varInt64);
  EXPECT_EQ(VarType(Variant(uint32_t{42})), varInt64);
  EXPECT_EQ(VarType(Variant(1.5)), varDouble);
  EXPECT_EQ(VarType(VarFromDateTime(1.5)), varDate);
  EXPECT_EQ(VarType(Variant("abc")), varString);
  EXPECT_EQ(VarType(Variant(std::string("abc"))), varString);
  EXPECT_EQ(VarType(VarArrayOf({1, "a"})), varArray | varVariant);
  EXPECT_TRUE(VarIsArray(VarArrayOf({})));
  EXPECT_FALSE(VarIsArray(Variant(1)));
  // No pointer but a text turns into a Boolean by accident.
  static_assert(!std::is_constructible_v<Variant, int*>);
  static_assert(!std::is_constructible_v<Variant, const void*>);
}

TEST_F(VariantTest, NullAndUnassignedConvertToZeroEmptyAndFalse) {
  for (const Variant& v : {Null(), Unassigned()}) {
    EXPECT_EQ(v.AsString(), "");
    EXPECT_EQ(v.AsInteger(), 0);
    EXPECT_EQ(v.AsInt64(), 0);
    EXPECT_EQ(v.AsFloat(), 0.0);
    EXPECT_FALSE(v.AsBoolean());
    EXPECT_EQ(v.AsDateTime(), 0.0);
    EXPECT_EQ(VarToStr(v), "");
  }
}

TEST_F(VariantTest, ScalarConversions) {
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_EQ(Variant(false).AsString(), "False");
  EXPECT_EQ(Variant(true).AsInteger(), 1);
  EXPECT_EQ(Variant(true).AsFloat(), 1.0);

  EXPECT_EQ(Variant(-42).AsString(), "-42");
  EXPECT_EQ(Variant(42).AsFloat(), 42.0);
  EXPECT_TRUE(Variant(42).AsBoolean());
  EXPECT_FALSE(Variant(0).AsBoolean());
  EXPECT_EQ(Variant(42).AsDateTime(), 42.0);

  const int64_t big = int64_t{1} << 40;
  EXPECT_EQ(Variant(big).AsString(), "1099511627776");
  EXPECT_EQ(Variant(big).AsInt64(), big);
  EXPECT_EQ(Variant(int64_t{-7}).AsInteger(), -7);
  EXPECT_EQ(MessageOf<EVariantError>([&] { Variant(big).AsInteger(); }),
            "Could not convert variant of type (Int64) into type (Integer)");

  EXPECT_EQ(Variant(12345.0 / 1024).AsString(), "12.0556640625");
  EXPECT_EQ(Variant(1.5).AsInteger(), 2);  // to the nearest, halves to even
  EXPECT_EQ(Variant(2.5).AsInteger(), 2);
  EXPECT_EQ(Variant(-1.5).AsInteger(), -2);
  EXPECT_EQ(Variant(1.4).AsInt64(), 1);
  EXPECT_EQ(Variant(3e10).AsInt64(), 30000000000LL);
  EXPECT_THROW(Variant(3e10).AsInteger(), EVariantError);
  EXPECT_THROW(Variant(1e300).AsInt64(), EVariantError);
  EXPECT_TRUE(Variant(0.5).AsBoolean());

  const TDateTime when = EncodeDateTime(2024, 3, 5, 7, 8, 9, 0);
  Variant d = VarFromDateTime(when);
  EXPECT_EQ(d.AsString(), "3/5/2024 7:08:09 AM");
  EXPECT_EQ(d.AsDateTime(), when);
  EXPECT_EQ(d.AsFloat(), when);
  EXPECT_EQ(d.AsInteger(), 45356);  // the day, rounded
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(Variant(1.5).AsString(), "1,5");  // the locale's separator
}

TEST_F(VariantTest, StringConversionsRaiseTheTextMessages) {
  EXPECT_EQ(Variant("12").AsInteger(), 12);
  EXPECT_EQ(Variant(" -12 ").AsInt64(), -12);
  EXPECT_EQ(Variant("1.5").AsFloat(), 1.5);
  EXPECT_EQ(Variant("3/5/2024").AsDateTime(), EncodeDate(2024, 3, 5));
  EXPECT_EQ(Variant("3/5/2024 1:00 PM").AsDateTime(), EncodeDateTime(2024, 3, 5, 13, 0, 0, 0));
  EXPECT_TRUE(Variant("true").AsBoolean());
  EXPECT_FALSE(Variant("FALSE").AsBoolean());
  EXPECT_FALSE(Variant("0").AsBoolean());
  EXPECT_TRUE(Variant("2.5").AsBoolean());
  EXPECT_EQ(Variant("abc").AsString(), "abc");

  EXPECT_EQ(MessageOf<EConvertError>([] { Variant("abc").AsInteger(); }),
            "'abc' is not a valid integer value");
  EXPECT_EQ(MessageOf<EConvertError>([] { Variant("1.5").AsInteger(); }),
            "'1.5' is not a valid integer value");
  EXPECT_EQ(MessageOf<EConvertError>([] { Variant("99999999999").AsInteger(); }),
            "'99999999999' is not a valid integer value");
  EXPECT_EQ(MessageOf<EConvertError>([] { Variant("abc").AsFloat(); }),
            "'abc' is not a valid floating point value");
  EXPECT_EQ(MessageOf<EConvertError>([] { Variant("abc").AsDateTime(); }),
            "'abc' is not a valid date and time");
  EXPECT_EQ(MessageOf<EConvertError>([] { Variant("x").AsBoolean(); }), "'x' is not a valid boolean value");
  EXPECT_EQ(MessageOf<EConvertError>([] { Variant("").AsInteger(); }), "'' is not a valid integer value");
}

TEST_F(VariantTest, ArraysOfVariants) {
  Variant keys = VarArrayOf({1, "a", Null(), VarArrayOf({2.5})});
  ASSERT_TRUE(VarIsArray(keys));
  EXPECT_EQ(keys.ArrayLength(), 4);
  EXPECT_EQ(VarArrayHighBound(keys), 3);
  EXPECT_EQ(keys[0].AsInteger(), 1);
  EXPECT_EQ(keys[1].AsString(), "a");
  EXPECT_TRUE(VarIsNull(keys[2]));
  EXPECT_EQ(keys[3][0].AsFloat(), 2.5);
  EXPECT_EQ(MessageOf<EVariantError>([&] { keys[4]; }), "Variant array index out of bounds");
  EXPECT_THROW(keys[-1], EVariantError);
  EXPECT_EQ(MessageOf<EVariantError>([&] { keys.AsString(); }),
            "Could not convert variant of type (Array Variant) into type (String)");
  EXPECT_THROW(keys.AsInteger(), EVariantError);
  EXPECT_THROW(Variant(1).ArrayLength(), EVariantError);
  EXPECT_THROW(Variant(1)[0], EVariantError);

  Variant copy = keys;  // a copy is independent
  copy[0] = "changed";
  EXPECT_EQ(keys[0].AsInteger(), 1);
  EXPECT_EQ(copy[0].AsString(), "changed");

  Variant made = Variant::Array(2);
  EXPECT_EQ(made.ArrayLength(), 2);
  EXPECT_TRUE(VarIsEmpty(made[1]));
  EXPECT_EQ(VarArrayHighBound(VarArrayOf({})), -1);
}

TEST_F(VariantTest, Equality) {
  struct Case {
    Variant a, b;
    bool equal;
  };
  const Case cases[] = {
      {Variant(1), Variant(int64_t{1}), true},
      {Variant(1), Variant(1.0), true},
      {Variant(1), Variant(1.5), false},
      {Variant(1), Variant("1"), true},
      {Variant("1.5"), Variant(1.5), true},
      {Variant(1), Variant("x"), false},
      {Variant("a"), Variant("a"), true},
      {Variant("a"), Variant("A"), false},
      {Variant(true), Variant(1), true},
      {Variant(true), Variant("True"), true},
      {Variant(false), Variant("x"), false},
      {VarFromDateTime(2.0), Variant(2.0), true},
      {VarFromDateTime(EncodeDate(2024, 3, 5)), Variant("3/5/2024"), true},
      {Null(), Null(), true},
      {Unassigned(), Unassigned(), true},
      {Null(), Unassigned(), false},
      {Null(), Variant(0), false},
      {Unassigned(), Variant(""), false},
      {VarArrayOf({1, "a"}), VarArrayOf({1.0, "a"}), true},
      {VarArrayOf({1, "a"}), VarArrayOf({1}), false},
      {VarArrayOf({1}), Variant(1), false},
      {Variant(int64_t{1} << 53), Variant((int64_t{1} << 53) + 1), false},  // integers compare exactly
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].a == cases[i].b, cases[i].equal) << "case " << i;
    EXPECT_EQ(cases[i].b == cases[i].a, cases[i].equal) << "case " << i << " reversed";
    EXPECT_EQ(cases[i].a != cases[i].b, !cases[i].equal) << "case " << i;
  }
}

}  // namespace
}  // namespace lanqi
