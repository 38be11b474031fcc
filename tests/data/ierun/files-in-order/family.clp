(deffacts family
  (parent (of carl) (is bea))
  (parent (of bea) (is abe))
  (parent (of abe) (is zed))
  (parent (of dan) (is bea)))
