# The same work as bench/money.zan with Python's decimal and datetime.
import datetime
import os
from decimal import Decimal

part = os.environ.get("MONEY_BENCH_PART")
if part in (None, "1"):
    total = Decimal("0")
    step = Decimal("0.01")
    price = Decimal("12.34")
    three = Decimal(3)
    for _ in range(1000000):
        total = total + step
        cost = price * three
    print(total, cost)
if part in (None, "2"):
    start = datetime.date(2000, 1, 1)
    days = 0
    for i in range(1, 1000001):
        d = start + datetime.timedelta(days=i)
        days = days + d.day
    print(days)
