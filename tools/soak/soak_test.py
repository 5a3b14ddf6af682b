#!/usr/bin/env python3
"""The soak's reading of what a scale received: whole deliveries, the
prices a scale holds, and which late arrivals break per-scale order."""

import os
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import soak  # noqa: E402


def delivery(k, answer="06", goods=soak.GOODS_NUMBERS, clock=True):
    """The frames a scale records for file k, as the simulator writes them."""
    frames = [{"kind": "delete", "goods": 90000000 + k, "answer": answer}]
    price = "%d.%02d" % divmod(soak.price_cents(k), 100)
    frames += [{"kind": "goods", "goods": g, "price": price, "answer": answer} for g in goods]
    if clock:
        frames.append({"kind": "clock", "answer": answer})
    return frames


class ScaleViewTest(unittest.TestCase):
    def test_whole_partial_and_refused_deliveries(self):
        frames = delivery(1) + delivery(2, clock=False) + delivery(3, goods=(11, 12)) + delivery(4, answer="15")
        view = soak.ScaleView(frames)
        self.assertEqual(view.complete, {1})
        self.assertEqual(view.holds, {11: 3, 12: 3, 13: 2}, "refused frames change nothing")

    def test_a_redelivery_after_a_crash_repeats_the_newer_file_and_keeps_order(self):
        view = soak.ScaleView(delivery(1) + delivery(2) + delivery(1) + delivery(2))
        self.assertEqual(view.order_breaks(), [])
        self.assertEqual(set(view.holds.values()), {2})

    def test_an_older_file_after_a_newer_one_that_never_comes_again_breaks_order(self):
        view = soak.ScaleView(delivery(1) + delivery(3) + delivery(2) + delivery(4))
        self.assertEqual(view.order_breaks(), [(2, 3)])
        self.assertEqual(set(view.holds.values()), {4}, "a later file hides it from the final prices")

    def test_every_older_reception_after_a_newer_one_counts_redeliveries_included(self):
        view = soak.ScaleView(delivery(1) + delivery(2) + delivery(1) + delivery(2) + delivery(2) + delivery(3))
        self.assertEqual(view.older_after_newer(), [(1, 2)])
        refused = soak.ScaleView(delivery(2) + delivery(1, answer="15") + delivery(3))
        self.assertEqual(refused.older_after_newer(), [], "a refused delivery brought no price")

    def test_a_newer_file_only_partly_received_sets_no_order(self):
        view = soak.ScaleView(delivery(1) + delivery(3, clock=False) + delivery(2) + delivery(3))
        self.assertEqual(view.order_breaks(), [])


class NamesTest(unittest.TestCase):
    def test_common_and_parked_names_name_their_file_and_scale(self):
        self.assertEqual(soak.file_of_logged_name("p000042.txt"), (42, None))
        self.assertEqual(soak.file_of_logged_name("{0F6A3C1E-2B4D-4E8F-9A0B-1C2D3E4F5A6B}p000042013.txt"), (42, 13))
        self.assertEqual(soak.file_of_logged_name("p000042.txt12/07/26"), (None, None))

    def test_goods_files_carry_their_marker_and_price(self):
        text = soak.goods_file(7).decode("ascii")
        lines = text.split("\r\n")
        self.assertEqual(lines[0], "D90000007")
        self.assertTrue(all(len(x) == 133 and "00001.07" in x for x in lines[1:4]))
        self.assertTrue(lines[4].startswith("T"))


if __name__ == "__main__":
    unittest.main()
