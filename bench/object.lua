local Counter = {}
Counter.__index = Counter
function Counter:bump(n)
    self.count = self.count + 1
    self.total = self.total + n
end
local counter = setmetatable({count = 0, total = 0}, Counter)
for i = 1, 1000000 do
    counter:bump(i)
    counter.total = counter.total - i
end
print(counter.count + counter.total)
